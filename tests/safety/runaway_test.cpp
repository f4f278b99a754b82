// A legal frame with a pitch gain above one, repeated, overflows the float
// range. The decoder must keep its output defined, drop the broken history
// by itself and decode valid frames that follow as speech again. (In the
// sanitizer build the overflowing frame's NaN samples also pass through the
// 16-bit conversion under UBSan's float-cast-overflow check.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "hostile_streams.h"
#include "mervox.h"
#include "test_support.h"

namespace mervox::test {
namespace {

constexpr int kFramesToOverflow = 26;  // the 26th runaway frame leaves the float range

std::vector<uint8_t> Repeat(const std::vector<uint8_t>& frame, int times)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

float LargestExcitation(const DecoderState& s)
{
    float m = 0.0f;
    for (float v : s.excitation)
        m = std::max(m, std::fabs(v));
    return m;
}

std::vector<int16_t> FreshDecode(const std::vector<uint8_t>& frames)
{
    Channel fresh;
    ResetChannel(fresh, 1);
    return DecodeFrames(fresh, frames);
}

TEST(Runaway, GrowsToTheFloatLimitThenStartsOverInsteadOfHoldingNaN)
{
    Channel channel;
    ResetChannel(channel, 1);
    const std::vector<uint8_t> frame = RunawayFrame();
    int16_t out[kFrameLength];
    for (int k = 1; k < kFramesToOverflow; ++k) {
        DecodeChannelFrame(channel, frame.data(), out);
        ASSERT_TRUE(StateIsFinite(channel.state)) << "frame " << k;
    }
    // Still finite but within a factor of 400 of the largest float: the next
    // frame overflows, so this stream really exercises the non-finite case.
    EXPECT_GT(LargestExcitation(channel.state), 1e36f);
    EXPECT_EQ(std::count(out, out + kFrameLength, -32768) + std::count(out, out + kFrameLength, 32767), kFrameLength)
        << "a runaway frame saturates every sample";

    DecodeChannelFrame(channel, frame.data(), out);
    EXPECT_TRUE(StateIsFresh(channel.state)) << "the overflowing frame resets the decoder";

    // And the cycle repeats from silence: the next runaway frame decodes
    // exactly like the first one of a new stream.
    int16_t first[kFrameLength];
    Channel fresh;
    ResetChannel(fresh, 1);
    DecodeChannelFrame(fresh, frame.data(), first);
    DecodeChannelFrame(channel, frame.data(), out);
    EXPECT_TRUE(std::equal(out, out + kFrameLength, first));
}

TEST(Runaway, ValidFramesAfterTheOverflowDecodeLikeANewStream)
{
    // Through the exported functions, as a host that never calls INITdec
    // again: speech after the overflow is exactly a fresh decoder's output.
    const std::vector<uint8_t> speech = CorpusFrames53(100, 200);
    std::vector<uint8_t> stream = Repeat(RunawayFrame(), kFramesToOverflow);
    stream.insert(stream.end(), speech.begin(), speech.end());

    const std::vector<int16_t> pcm = DecodeWithLegacyApi(stream);
    ASSERT_EQ(pcm.size(), (kFramesToOverflow + 200u) * kFrameLength);
    const std::vector<int16_t> after(pcm.begin() + kFramesToOverflow * kFrameLength, pcm.end());
    EXPECT_TRUE(after == FreshDecode(speech));
}

TEST(Runaway, ValidFramesAfterAHugeButFiniteHistoryConvergeToSpeech)
{
    // 40 runaway frames: overflow and restart at the 26th, then 14 more that
    // leave a finite history near 1e20. That history is the decoder's own
    // business (finite streams must decode unchanged); speech frames must
    // still wash it out completely.
    const std::vector<uint8_t> speech = CorpusFrames53(100, 200);
    Channel channel;
    ResetChannel(channel, 1);
    DecodeFrames(channel, Repeat(RunawayFrame(), 40));
    ASSERT_TRUE(StateIsFinite(channel.state));
    ASSERT_GT(LargestExcitation(channel.state), 1e15f);

    const std::vector<int16_t> pcm = DecodeFrames(channel, speech);
    const std::vector<int16_t> reference = FreshDecode(speech);
    ASSERT_EQ(pcm.size(), reference.size());
    // Measured: identical from the 49th frame on; allow some margin.
    const size_t settled = 80 * kFrameLength;
    EXPECT_TRUE(std::equal(pcm.begin() + settled, pcm.end(), reference.begin() + settled));
    EXPECT_FALSE(std::equal(pcm.begin(), pcm.begin() + settled, reference.begin()))
        << "the huge history did not reach the output at all";
}

TEST(Runaway, LostFrameOnANearOverflowHistoryStartsOver)
{
    // Concealment measures the recent excitation: near 1e38 its energy does
    // not fit a float, the gain becomes infinite and so does the concealment.
    Channel channel;
    ResetChannel(channel, 1);
    DecodeFrames(channel, Repeat(RunawayFrame(), kFramesToOverflow - 1));
    ASSERT_TRUE(StateIsFinite(channel.state));
    int16_t out[kFrameLength];
    DecodeChannelFrame(channel, nullptr, out);
    EXPECT_TRUE(StateIsFresh(channel.state));
}

}  // namespace
}  // namespace mervox::test
