// The exported interface and the channel it drives: return values, the
// remembered rate, reset behaviour and how bad frames enter concealment.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "interface/channel.h"
#include "mervox.h"
#include "tables/tables.h"
#include "test_support.h"

namespace mervox {
namespace {

struct Stream {
    std::vector<uint8_t> bytes;
    size_t frameBytes;
    const uint8_t* frame(size_t k) const { return bytes.data() + k * frameBytes; }
};

const Stream& Stream63()
{
    static const Stream s{test::ReadFileBytes(test::DataPath("corpus/speech-a.63.bit")), 24};
    return s;
}

const Stream& Stream53()
{
    static const Stream s{test::ReadFileBytes(test::DataPath("corpus/speech-a.53.bit")), 20};
    return s;
}

using Pcm = std::vector<int16_t>;

Pcm Decode(Channel& channel, const Stream& s, size_t first, size_t count)
{
    Pcm pcm(240 * count);
    for (size_t k = 0; k < count; ++k)
        DecodeChannelFrame(channel, s.frame(first + k), pcm.data() + 240 * k);
    return pcm;
}

TEST(ExportedInterface, ReturnValuesAndCallerBuffers)
{
    INITdec(1);
    int16_t out[240];
    std::fill(out, out + 240, int16_t{0x7777});
    EXPECT_EQ(DecSoundFrame(nullptr, out), 1);
    for (int16_t sample : out)
        ASSERT_EQ(sample, 0);  // lost frame after reset: silence, all 240 written

    uint8_t frame[24];
    for (int type = 0; type < 4; ++type) {
        std::memcpy(frame, (type & 1 ? Stream53() : Stream63()).frame(300), 24);
        frame[0] = static_cast<uint8_t>((frame[0] & ~3) | type);
        uint8_t copy[24];
        std::memcpy(copy, frame, 24);
        EXPECT_EQ(DecSoundFrame(frame, out), type & 1 ? 10 : 12) << type;
        EXPECT_EQ(std::memcmp(frame, copy, 24), 0) << type;
    }
}

TEST(ExportedInterface, ResetSelectorOnlyMattersForEarlyLosses)
{
    Pcm a(240 * 20), b(240 * 20);
    for (auto [selector, pcm] : {std::pair{0, &a}, std::pair{1, &b}}) {
        INITdec(selector);
        for (size_t k = 0; k < 20; ++k)
            DecSoundFrame(Stream53().frame(200 + k), pcm->data() + 240 * k);
    }
    EXPECT_EQ(a, b);
}

TEST(Channel, RateRememberedForLostFrames)
{
    Channel ch;
    int16_t out[240];
    ResetChannel(ch, 0);
    EXPECT_EQ(ch.currentRate, kRate53);
    ResetChannel(ch, 0x10000);  // only the low 16 bits count
    EXPECT_EQ(ch.currentRate, kRate53);
    ResetChannel(ch, 2);
    EXPECT_EQ(ch.currentRate, kRate63);
    EXPECT_EQ(DecodeChannelFrame(ch, Stream53().frame(10), out), 10);
    EXPECT_EQ(DecodeChannelFrame(ch, nullptr, out), 1);
    EXPECT_EQ(ch.currentRate, kRate53);
    DecodeChannelFrame(ch, Stream63().frame(11), out);
    DecodeChannelFrame(ch, nullptr, out);
    EXPECT_EQ(ch.currentRate, kRate63);
}

TEST(Channel, FreshAndResetChannelsDecodeAlike)
{
    Channel fresh, used;
    Decode(used, Stream63(), 500, 10);
    ResetChannel(used, 1);
    EXPECT_EQ(Decode(fresh, Stream53(), 100, 40), Decode(used, Stream53(), 100, 40));
}

TEST(Channel, ShortFrameIgnoresBufferTail)
{
    Channel zeros, ones;
    std::memset(ones.frameBuffer, 0xff, sizeof ones.frameBuffer);
    EXPECT_EQ(Decode(zeros, Stream53(), 1000, 20), Decode(ones, Stream53(), 1000, 20));
}

TEST(Channel, LossesAfterResetKeepTheMeanEnvelopeAndSilence)
{
    Channel ch;
    int16_t out[240];
    for (int k = 0; k < 4; ++k) {
        DecodeChannelFrame(ch, nullptr, out);
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(ch.state.prevLsp[i], LspMeanTable[i]) << k;
        for (int16_t sample : out)
            ASSERT_EQ(sample, 0) << k;
    }
    EXPECT_EQ(ch.state.erasureCount, 3);
    DecodeChannelFrame(ch, Stream63().frame(700), out);
    EXPECT_EQ(ch.state.erasureCount, 0);
}

TEST(Channel, FaultyFrameIsConcealedLikeALostOne)
{
    // First lag code 124 is a fault; second lag code 0 is the lag 18 that a
    // lost frame unpacks to, so both must give the same samples and state.
    uint8_t faulty[24];
    std::memcpy(faulty, Stream63().frame(820), 24);
    auto put = [&](int first, int width, unsigned value) {
        for (int k = 0; k < width; ++k) {
            const int bit = first + k;
            faulty[bit / 8] = static_cast<uint8_t>((faulty[bit / 8] & ~(1u << bit % 8)) | ((value >> k) & 1u) << bit % 8);
        }
    };
    put(26, 7, 124);
    put(35, 7, 0);

    Channel a, b;
    Decode(a, Stream63(), 800, 20);
    Decode(b, Stream63(), 800, 20);
    int16_t outA[240], outB[240];
    EXPECT_EQ(DecodeChannelFrame(a, faulty, outA), 12);
    DecodeChannelFrame(b, nullptr, outB);
    EXPECT_EQ(a.state.erasureCount, 1);
    EXPECT_EQ(std::memcmp(outA, outB, sizeof outA), 0);
    EXPECT_EQ(Decode(a, Stream63(), 821, 3), Decode(b, Stream63(), 821, 3));
}

}  // namespace
}  // namespace mervox
