// The decoder-object C API against the legacy exported functions: the same
// samples and return values, independence of decoders, argument checking,
// and no allocation while decoding.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "mervox.h"
#include "test_support.h"

// Counts operator new calls so that decoding can be shown allocation-free.
// (GCC flags free() on memory from a replaced operator new, which is what
// the replacement pairs it with.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<long> allocations{0};
}
void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    ++allocations;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

extern "C" int mervox_test_decode_from_c(const uint8_t* stream, size_t size, int16_t* pcm, size_t maxFrames);

namespace mervox::test {
namespace {

struct Case {
    const char* stream;
    const char* mask;  // nullptr: no loss mask
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.stream << (c.mask ? "+mask" : ""); }

class MatchesLegacy : public ::testing::TestWithParam<Case> {};

// Both interfaces driven in lockstep, frame by frame.
TEST_P(MatchesLegacy, SameSamplesAndReturnValues)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath(std::string("corpus/") + GetParam().stream));
    std::vector<uint8_t> mask;
    if (GetParam().mask)
        mask = ReadFileBytes(DataPath(std::string("corpus/") + GetParam().mask));
    const std::vector<StreamFrame> frames = SplitStream(stream);
    ASSERT_GT(frames.size(), 3000u);

    mervox_decoder* decoder = mervox_decoder_create(1, nullptr);
    ASSERT_NE(decoder, nullptr);
    INITdec(1);
    int16_t legacy[240], api[240];
    size_t mismatches = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        const bool lost = !frames[k].speech || (k < mask.size() && mask[k]);
        const uint8_t* frame = lost ? nullptr : stream.data() + frames[k].offset;
        const int want = DecSoundFrame(frame, legacy);
        const int got = lost && (k % 2) ? mervox_conceal(decoder, api)
                                        : mervox_decode(decoder, frame, lost ? 0 : frames[k].length, api);
        if (got != want || std::memcmp(legacy, api, sizeof api) != 0)
            ADD_FAILURE() << "frame " << k << ": returned " << got << ", legacy " << want
                          << (++mismatches > 5 ? " (stopping)" : "");
        if (mismatches > 5)
            break;
    }
    mervox_decoder_destroy(decoder);
}

INSTANTIATE_TEST_SUITE_P(Corpus, MatchesLegacy,
                         ::testing::Values(Case{"speech-a.63.bit", nullptr}, Case{"speech-a.53.bit", nullptr},
                                           Case{"speech-a.mixed.bit", "speech-a.mixed.loss"},
                                           Case{"speech-a.63-vad.bit", nullptr},
                                           Case{"speech-a.53.bit", "speech-a.53.loss"}));

std::vector<int16_t> DecodeAll(mervox_decoder* decoder, const std::vector<uint8_t>& stream)
{
    std::vector<int16_t> pcm;
    int16_t out[240];
    for (const StreamFrame& f : SplitStream(stream)) {
        const int r =
            f.speech ? mervox_decode(decoder, stream.data() + f.offset, f.length, out) : mervox_conceal(decoder, out);
        EXPECT_GT(r, 0);
        pcm.insert(pcm.end(), out, out + 240);
    }
    return pcm;
}

TEST(DecoderObjects, InterleavedDecodersDoNotInfluenceEachOther)
{
    const std::vector<uint8_t> a = ReadFileBytes(DataPath("corpus/speech-a.63.bit"));
    const std::vector<uint8_t> b = ReadFileBytes(DataPath("corpus/speech-a.53-vad.bit"));
    const std::vector<StreamFrame> fa = SplitStream(a), fb = SplitStream(b);
    mervox_decoder* da = mervox_decoder_create(1, nullptr);
    mervox_decoder* db = mervox_decoder_create(0, nullptr);
    mervox_decoder* twin = mervox_decoder_create(1, nullptr);  // fed the same frames as da
    std::vector<int16_t> pa, pb, ptwin;
    int16_t out[240];
    for (size_t k = 0; k < fa.size() || k < fb.size(); ++k) {
        if (k < fa.size()) {
            mervox_decode(da, a.data() + fa[k].offset, fa[k].length, out);
            pa.insert(pa.end(), out, out + 240);
            // The legacy instance runs in between and must not disturb either.
            INITdec(0);
            DecSoundFrame(nullptr, out);
        }
        if (k < fb.size()) {
            if (fb[k].speech)
                mervox_decode(db, b.data() + fb[k].offset, fb[k].length, out);
            else
                mervox_conceal(db, out);
            pb.insert(pb.end(), out, out + 240);
        }
        if (k < fa.size()) {
            mervox_decode(twin, a.data() + fa[k].offset, fa[k].length, out);
            ptwin.insert(ptwin.end(), out, out + 240);
        }
    }
    EXPECT_EQ(pa, ptwin);
    EXPECT_EQ(pa, DecodeWithLegacyApi(a));
    // db was reset with selector 0, the legacy reference with 1: b starts
    // with a speech frame, so that makes no difference.
    EXPECT_EQ(pb, DecodeWithLegacyApi(b));
    for (mervox_decoder* d : {da, db, twin})
        mervox_decoder_destroy(d);
}

TEST(DecoderObjects, ResetStartsTheStreamAgainWithTheSelectorsRate)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.53.bit"));
    const std::vector<uint8_t> head(stream.begin(), stream.begin() + 20 * 200);
    mervox_decoder* decoder = mervox_decoder_create(1, nullptr);
    const std::vector<int16_t> first = DecodeAll(decoder, head);
    EXPECT_EQ(mervox_decoder_reset(decoder, 1), MERVOX_OK);
    EXPECT_EQ(DecodeAll(decoder, head), first);

    // Frames lost before the first frame are concealed at the selected rate,
    // as after INITdec; only the low 16 bits of the selector count.
    for (int32_t selector : {0, 1, 0x10000, 0x10001}) {
        mervox_decoder_reset(decoder, 7);
        DecodeAll(decoder, head);
        ASSERT_EQ(mervox_decoder_reset(decoder, selector), MERVOX_OK);
        INITdec(selector);
        int16_t api[240], legacy[240];
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(mervox_conceal(decoder, api), DecSoundFrame(nullptr, legacy));
            EXPECT_EQ(0, std::memcmp(api, legacy, sizeof api)) << "selector " << selector << " frame " << k;
        }
        EXPECT_EQ(mervox_decode(decoder, head.data(), 20, api), DecSoundFrame(head.data(), legacy));
        EXPECT_EQ(0, std::memcmp(api, legacy, sizeof api)) << "selector " << selector;
    }
    mervox_decoder_destroy(decoder);
}

TEST(DecoderObjects, NullAndShortArgumentsAreRejectedWithoutSideEffects)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.63.bit"));
    int16_t pcm[240];
    EXPECT_EQ(mervox_decoder_reset(nullptr, 1), MERVOX_BAD_ARG);
    EXPECT_EQ(mervox_decode(nullptr, stream.data(), 24, pcm), MERVOX_BAD_ARG);
    EXPECT_EQ(mervox_conceal(nullptr, pcm), MERVOX_BAD_ARG);
    EXPECT_EQ(mervox_frame_faults(nullptr, 24), MERVOX_BAD_ARG);
    mervox_decoder_destroy(nullptr);

    int error = 12345;
    mervox_decoder* decoder = mervox_decoder_create(1, &error);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(error, MERVOX_OK);
    EXPECT_EQ(mervox_decode(decoder, stream.data(), 24, nullptr), MERVOX_BAD_ARG);
    EXPECT_EQ(mervox_conceal(decoder, nullptr), MERVOX_BAD_ARG);

    // A 24-byte frame given as 23 bytes, a 20-byte one as 19, nothing at all.
    uint8_t rate53[24];
    std::memcpy(rate53, stream.data(), 24);
    rate53[0] |= 1;
    std::fill(pcm, pcm + 240, int16_t{0x5a5a});
    EXPECT_EQ(mervox_decode(decoder, stream.data(), 23, pcm), MERVOX_INVALID_FRAME);
    EXPECT_EQ(mervox_decode(decoder, rate53, 19, pcm), MERVOX_INVALID_FRAME);
    EXPECT_EQ(mervox_decode(decoder, stream.data(), 0, pcm), MERVOX_INVALID_FRAME);
    EXPECT_EQ(mervox_frame_faults(stream.data(), 23), MERVOX_INVALID_FRAME);
    for (int16_t s : pcm)
        ASSERT_EQ(s, 0x5a5a) << "output written on error";
    // ...and the decoder state was not touched: the stream still decodes exactly.
    EXPECT_EQ(DecodeAll(decoder, stream), DecodeWithLegacyApi(stream));
    mervox_decoder_destroy(decoder);

    EXPECT_STREQ(mervox_version_string(), MERVOX_EXPECTED_VERSION);
    const std::string texts[] = {mervox_strerror(MERVOX_OK), mervox_strerror(MERVOX_BAD_ARG),
                                 mervox_strerror(MERVOX_INVALID_FRAME), mervox_strerror(MERVOX_ALLOC_FAIL),
                                 mervox_strerror(-99)};
    for (size_t i = 0; i < 5; ++i)
        for (size_t j = i + 1; j < 5; ++j)
            EXPECT_NE(texts[i], texts[j]);
}

TEST(DecoderObjects, DecodingAllocatesNothing)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.mixed.bit"));
    const std::vector<StreamFrame> frames = SplitStream(stream);
    std::vector<int16_t> pcm(frames.size() * 240);
    const long beforeCreate = allocations.load();
    mervox_decoder* decoder = mervox_decoder_create(1, nullptr);
    EXPECT_EQ(allocations.load() - beforeCreate, 1);
    const long before = allocations.load();
    for (size_t k = 0; k < frames.size(); ++k) {
        int16_t* out = pcm.data() + 240 * k;
        if (k % 7 == 3)
            mervox_conceal(decoder, out);
        else
            mervox_decode(decoder, stream.data() + frames[k].offset, frames[k].length, out);
    }
    mervox_decoder_reset(decoder, 0);
    mervox_frame_faults(stream.data(), stream.size());
    EXPECT_EQ(allocations.load() - before, 0);
    mervox_decoder_destroy(decoder);
}

TEST(DecoderObjects, UsableFromC)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.53-vad.bit"));
    const std::vector<int16_t> want = DecodeWithLegacyApi(stream);
    std::vector<int16_t> got(want.size());
    ASSERT_EQ(mervox_test_decode_from_c(stream.data(), stream.size(), got.data(), want.size() / 240),
              static_cast<int>(want.size() / 240));
    EXPECT_EQ(got, want);
}

// Every first byte: the length and whether the frame carries speech follow
// the two type bits alone.
TEST(FrameBytes, FollowTheTypeBits)
{
    for (int b = 0; b < 256; ++b) {
        const auto first = static_cast<uint8_t>(b);
        ASSERT_EQ(mervox_frame_bytes(first), mervox_frame_bytes(static_cast<uint8_t>(b & 3))) << "first byte " << b;
        ASSERT_EQ(mervox_frame_is_speech(first), mervox_frame_bytes(first) >= 20 ? 1 : 0) << "first byte " << b;
    }
    EXPECT_EQ(mervox_frame_bytes(0xfc | MERVOX_FRAME_6300), 24u);
    EXPECT_EQ(mervox_frame_bytes(0xfc | MERVOX_FRAME_5300), 20u);
    EXPECT_EQ(mervox_frame_bytes(0xfc | MERVOX_FRAME_SID), 4u);
    EXPECT_EQ(mervox_frame_bytes(0xfc | MERVOX_FRAME_UNTRANSMITTED), 1u);
}

// Faults are the impossible codes the unpacking finds: a lag code of 124..127
// in either half frame, or the one gain code past the table.
TEST(FrameFaults, CountsImpossibleCodes)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.mixed.bit"));
    for (const StreamFrame& f : SplitStream(stream))
        ASSERT_EQ(mervox_frame_faults(stream.data() + f.offset, f.length), 0) << "offset " << f.offset;

    uint8_t frame[24];
    std::memcpy(frame, stream.data(), 24);
    frame[0] &= ~3;
    // Bits 26..32 hold the first open-loop lag code: make it 127.
    frame[3] |= 0xfc;
    frame[4] |= 0x01;
    EXPECT_EQ(mervox_frame_faults(frame, 24), 1);
    // ...and the second one (bits 35..41) too.
    frame[4] |= 0xf8;
    frame[5] |= 0x03;
    EXPECT_EQ(mervox_frame_faults(frame, 24), 2);

    // A faulty frame is concealed: it decodes like a lost one.
    int16_t faulty[240], lost[240];
    mervox_decoder* a = mervox_decoder_create(1, nullptr);
    mervox_decoder* b = mervox_decoder_create(1, nullptr);
    mervox_decode(a, stream.data(), 24, faulty);
    mervox_decode(b, stream.data(), 24, lost);
    mervox_decode(a, frame, 24, faulty);
    mervox_conceal(b, lost);
    EXPECT_EQ(0, std::memcmp(faulty, lost, sizeof lost));
    mervox_decoder_destroy(a);
    mervox_decoder_destroy(b);

    // Silence-descriptor type in a full-length buffer: one fault for the type.
    frame[0] = static_cast<uint8_t>((stream[0] & ~3) | 2);
    frame[3] &= 0x03;
    frame[4] &= 0x06;
    frame[5] &= 0xfc;
    EXPECT_EQ(mervox_frame_faults(frame, 24), 1);
    // ...and in its own 4 bytes; an untransmitted frame in its 1 byte.
    EXPECT_EQ(mervox_frame_faults(frame, mervox_frame_bytes(frame[0])), 1);
    EXPECT_EQ(mervox_frame_faults(frame, 3), MERVOX_INVALID_FRAME);
    const uint8_t untransmitted[1] = {0x03};
    EXPECT_EQ(mervox_frame_faults(untransmitted, 1), 1);
    EXPECT_EQ(mervox_frame_faults(untransmitted, 0), MERVOX_INVALID_FRAME);
}

}  // namespace
}  // namespace mervox::test
