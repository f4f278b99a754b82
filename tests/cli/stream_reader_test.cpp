// Splitting stream files into frames by their type bits.
#include <gtest/gtest.h>

#include <random>

#include "stream_reader.h"
#include "test_support.h"

namespace mervox::cli {
namespace {

TEST(StreamReader, FrameLengthsFollowTheTypeBits)
{
    std::vector<uint8_t> s(24 + 20 + 4 + 1 + 24, 0);
    s[0] = 0xfc;       // type 0 (only the two lowest bits count)
    s[24] = 0x01;      // type 1
    s[44] = 0xfe;      // type 2
    s[48] = 0x03;      // type 3
    s[49] = 0x00;      // type 0
    const StreamSplit split = SplitStream(s.data(), s.size());
    ASSERT_EQ(split.frames.size(), 5u);
    EXPECT_FALSE(split.truncated);
    const size_t offsets[] = {0, 24, 44, 48, 49};
    const FrameType types[] = {FrameType::kRate63, FrameType::kRate53, FrameType::kSilenceDescriptor,
                               FrameType::kUntransmitted, FrameType::kRate63};
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(split.frames[k].offset, offsets[k]) << k;
        EXPECT_EQ(split.frames[k].type, types[k]) << k;
        EXPECT_EQ(split.frames[k].speech(), k == 0 || k == 1 || k == 4) << k;
    }
}

TEST(StreamReader, EveryCutPointKeepsTheWholeFramesAndReportsTheRest)
{
    const std::vector<uint8_t> stream = test::ReadFileBytes(test::DataPath("corpus/speech-a.53-vad.bit"));
    const std::vector<uint8_t> head(stream.begin(), stream.begin() + 3000);
    const StreamSplit whole = SplitStream(head.data(), head.size());
    for (size_t cut = 0; cut <= head.size(); ++cut) {
        const StreamSplit split = SplitStream(head.data(), cut);
        size_t expectFrames = 0;
        while (expectFrames < whole.frames.size() &&
               whole.frames[expectFrames].offset + whole.frames[expectFrames].length() <= cut)
            ++expectFrames;
        ASSERT_EQ(split.frames.size(), expectFrames) << "cut " << cut;
        const size_t end = expectFrames ? split.frames.back().offset + split.frames.back().length() : 0;
        ASSERT_EQ(split.truncated, end < cut) << "cut " << cut;
        if (split.truncated) {
            ASSERT_EQ(split.truncatedOffset, end);
            ASSERT_EQ(split.truncatedLength, cut - end);
            ASSERT_EQ(split.truncatedExpected, FrameTypeLength(FrameTypeOf(head[end])));
            ASSERT_GT(split.truncatedExpected, split.truncatedLength);
        }
    }
    EXPECT_TRUE(SplitStream(nullptr, 10).frames.empty());
}

TEST(StreamReader, ArbitraryBytesGiveContiguousFramesInsideTheBuffer)
{
    std::mt19937 generator(5);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<uint8_t> bytes(generator() % 300);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(generator());
        const StreamSplit split = SplitStream(bytes.data(), bytes.size());
        size_t next = 0;
        for (const StreamFrame& f : split.frames) {
            ASSERT_EQ(f.offset, next);
            ASSERT_EQ(f.type, FrameTypeOf(bytes[f.offset]));
            next += f.length();
        }
        ASSERT_LE(next, bytes.size());
        EXPECT_EQ(next + split.truncatedLength, bytes.size());
    }
}

TEST(StreamReader, CorpusStreamWithSilenceFrames)
{
    // Counts from the corpus description of speech-a.63-vad.
    const std::vector<uint8_t> s = test::ReadFileBytes(test::DataPath("corpus/speech-a.63-vad.bit"));
    const StreamSplit split = SplitStream(s.data(), s.size());
    size_t count[4] = {};
    for (const StreamFrame& f : split.frames)
        ++count[static_cast<int>(f.type)];
    EXPECT_EQ(count[0], 3878u);
    EXPECT_EQ(count[1], 0u);
    EXPECT_EQ(count[2], 19u);
    EXPECT_EQ(count[3], 9u);
    EXPECT_FALSE(split.truncated);
}

}  // namespace
}  // namespace mervox::cli
