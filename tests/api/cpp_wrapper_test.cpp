// mervox.hpp: the wrapper gives the C API's results and owns its decoder.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "mervox.hpp"
#include "test_support.h"

namespace mervox::test {
namespace {

static_assert(!std::is_copy_constructible_v<mervox::Decoder>);
static_assert(std::is_nothrow_move_constructible_v<mervox::Decoder>);

TEST(CppDecoder, DecodesLikeTheLegacyInterfaceFromAnyByteContainer)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.63-vad.bit"));
    const std::vector<StreamFrame> frames = SplitStream(stream);
    mervox::Decoder decoder;
    mervox::FramePcm pcm;
    std::vector<int16_t> all;
    for (size_t k = 0; k < frames.size(); ++k) {
        const StreamFrame& f = frames[k];
        int r;
        if (!f.speech) {
            r = decoder.Conceal(pcm);
            EXPECT_EQ(r, 1);
        } else if (k % 3 == 0) {
            r = decoder.Decode(FrameView(stream.data() + f.offset, f.length), pcm);
        } else if (k % 3 == 1) {
            const std::vector<uint8_t> copy(stream.begin() + f.offset, stream.begin() + f.offset + f.length);
            r = decoder.Decode(copy, pcm);
        } else {
            const std::string text(reinterpret_cast<const char*>(stream.data()) + f.offset, f.length);
            r = decoder.Decode(text, pcm.data());
        }
        if (f.speech) {
            EXPECT_EQ(r, static_cast<int>(f.length / 2)) << "frame " << k;
        }
        all.insert(all.end(), pcm.begin(), pcm.end());
    }
    EXPECT_EQ(all, DecodeWithLegacyApi(stream));
}

TEST(CppDecoder, MovedFromDecoderReportsBadArgumentAndOwnershipMoves)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.53.bit"));
    mervox::Decoder a(0);
    mervox_decoder* raw = a.get();
    ASSERT_TRUE(a);
    mervox::Decoder b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), raw);
    mervox::FramePcm pcm;
    EXPECT_EQ(a.Decode(FrameView(stream.data(), 20), pcm), MERVOX_BAD_ARG);
    EXPECT_EQ(a.Conceal(pcm), MERVOX_BAD_ARG);
    EXPECT_EQ(a.Reset(), MERVOX_BAD_ARG);
    EXPECT_EQ(b.Decode(FrameView(stream.data(), 20), pcm), 10);
    EXPECT_EQ(b.Decode(FrameView(stream.data(), 19), pcm), MERVOX_INVALID_FRAME);
    EXPECT_EQ(b.Decode(FrameView(), pcm), MERVOX_BAD_ARG);

    mervox::Decoder c;
    c = std::move(b);
    EXPECT_EQ(c.get(), raw);
    EXPECT_EQ(c.Reset(1), MERVOX_OK);
    EXPECT_STREQ(mervox::VersionString(), mervox_version_string());
}

}  // namespace
}  // namespace mervox::test
