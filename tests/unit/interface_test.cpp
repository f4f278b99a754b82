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

using Pcm = std::vector<int16_t>;

// Frame k of the corpus stream of one rate (both streams are plain speech).
const uint8_t* CorpusFrame(int rate, size_t k)
{
    static const std::vector<uint8_t> streams[2] = {
        test::ReadFileBytes(test::DataPath("corpus/speech-a.63.bit")),
        test::ReadFileBytes(test::DataPath("corpus/speech-a.53.bit")),
    };
    return streams[rate].data() + k * mervox_frame_bytes(static_cast<uint8_t>(rate));
}

Pcm Decode(Channel& channel, int rate, size_t first, size_t count)
{
    Pcm pcm(240 * count);
    for (size_t k = 0; k < count; ++k)
        DecodeChannelFrame(channel, CorpusFrame(rate, first + k), pcm.data() + 240 * k);
    return pcm;
}

TEST(ExportedInterface, ReturnValuesAndCallerBuffers)
{
    INITdec(1);
    Pcm out(240, 0x7777);
    EXPECT_EQ(DecSoundFrame(nullptr, out.data()), 1);
    EXPECT_EQ(out, Pcm(240, 0));  // a loss right after the reset is silent

    for (int type = 0; type < 4; ++type) {
        // Exactly as many bytes as bit 0 announces: a sanitizer build catches
        // any read beyond them.
        const int rate = type & 1;
        std::vector<uint8_t> frame(CorpusFrame(rate, 300), CorpusFrame(rate, 301));
        frame[0] = static_cast<uint8_t>((frame[0] & ~3) | type);
        const std::vector<uint8_t> copy = frame;
        EXPECT_EQ(DecSoundFrame(frame.data(), out.data()), rate ? 10 : 12) << type;
        EXPECT_EQ(frame, copy) << type;
    }
}

TEST(ExportedInterface, ResetSelectorOnlyMattersForEarlyLosses)
{
    Pcm pcm[2] = {Pcm(240 * 20), Pcm(240 * 20)};
    for (int selector : {0, 1}) {
        INITdec(selector);
        for (size_t k = 0; k < 20; ++k)
            DecSoundFrame(CorpusFrame(kRate53, 200 + k), pcm[selector].data() + 240 * k);
    }
    EXPECT_EQ(pcm[0], pcm[1]);
}

TEST(Channel, RateRememberedForLostFrames)
{
    Channel ch;
    int16_t out[240];
    ResetChannel(ch, 0x10000);  // only the low 16 bits count
    EXPECT_EQ(ch.currentRate, kRate53);
    ResetChannel(ch, 2);
    EXPECT_EQ(ch.currentRate, kRate63);
    DecodeChannelFrame(ch, CorpusFrame(kRate53, 10), out);
    EXPECT_EQ(DecodeChannelFrame(ch, nullptr, out), 1);
    EXPECT_EQ(ch.currentRate, kRate53);
    DecodeChannelFrame(ch, CorpusFrame(kRate63, 11), out);
    DecodeChannelFrame(ch, nullptr, out);
    EXPECT_EQ(ch.currentRate, kRate63);
    uint8_t type3[20];
    std::memcpy(type3, CorpusFrame(kRate53, 12), 20);
    type3[0] |= 3;  // bit 0 alone decides the rate
    DecodeChannelFrame(ch, type3, out);
    EXPECT_EQ(ch.currentRate, kRate53);
}

TEST(Channel, FreshAndResetChannelsDecodeAlike)
{
    Channel fresh, used;
    Decode(used, kRate63, 500, 10);
    ResetChannel(used, 1);
    EXPECT_EQ(Decode(fresh, kRate53, 100, 40), Decode(used, kRate53, 100, 40));
}

TEST(Channel, ShortFrameIgnoresBufferTail)
{
    Channel zeros, ones;
    std::memset(ones.frameBuffer, 0xff, sizeof ones.frameBuffer);
    EXPECT_EQ(Decode(zeros, kRate53, 1000, 20), Decode(ones, kRate53, 1000, 20));
}

TEST(Channel, LossesAfterResetKeepTheMeanEnvelopeAndSilence)
{
    Channel ch;
    int16_t out[240];
    for (int k = 0; k < 4; ++k) {
        DecodeChannelFrame(ch, nullptr, out);
        EXPECT_EQ(std::memcmp(ch.state.prevLsp, LspMeanTable, sizeof LspMeanTable), 0) << k;
        EXPECT_EQ(Pcm(out, out + 240), Pcm(240, 0)) << k;
    }
    EXPECT_EQ(ch.state.erasureCount, 3);
    DecodeChannelFrame(ch, CorpusFrame(kRate63, 700), out);
    EXPECT_EQ(ch.state.erasureCount, 0);
}

TEST(Channel, FaultyFrameIsConcealedLikeALostOne)
{
    // First lag code 124 is a fault; second lag code 0 is the lag 18 that a
    // lost frame unpacks to, so both must give the same samples and state.
    uint8_t faulty[24];
    std::memcpy(faulty, CorpusFrame(kRate63, 820), 24);
    auto setLagCode = [&](int first, unsigned code) {
        for (int k = 0; k < 7; ++k) {
            uint8_t& byte = faulty[(first + k) / 8];
            const unsigned bit = 1u << (first + k) % 8;
            byte = static_cast<uint8_t>((code >> k) & 1u ? byte | bit : byte & ~bit);
        }
    };
    setLagCode(26, 124);
    setLagCode(35, 0);
    Channel a, b;
    Decode(a, kRate63, 800, 20);
    Decode(b, kRate63, 800, 20);
    Pcm outA(240), outB(240);
    EXPECT_EQ(DecodeChannelFrame(a, faulty, outA.data()), 12);
    DecodeChannelFrame(b, nullptr, outB.data());
    EXPECT_EQ(a.state.erasureCount, 1);
    EXPECT_EQ(outA, outB);
    EXPECT_EQ(Decode(a, kRate63, 821, 3), Decode(b, kRate63, 821, 3));
}

}  // namespace
}  // namespace mervox
