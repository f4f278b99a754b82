// Splitting stream files into frames by their type bits, block by block.
#include <gtest/gtest.h>

#include <random>

#include "cli_test_support.h"
#include "stream/frame_splitter.h"
#include "stream/stream_reader.h"
#include "test_support.h"

namespace mervox::media::stream {
namespace {

struct Split {
    std::vector<Frame> frames;  // bytes pointers cleared
    std::vector<uint8_t> contents;
    std::optional<Truncation> truncated;
};

// `bytes` pushed in blocks of `blockSize` bytes (0: one block).
Split SplitInBlocks(const std::vector<uint8_t>& bytes, size_t blockSize)
{
    Split s;
    FrameSplitter splitter;
    if (blockSize == 0)
        blockSize = bytes.size() + 1;
    for (size_t at = 0; at < bytes.size(); at += blockSize) {
        const std::vector<uint8_t> block(bytes.begin() + static_cast<long>(at),
                                         bytes.begin() + static_cast<long>(std::min(bytes.size(), at + blockSize)));
        splitter.Push(block.data(), block.size());
        Frame f;
        while (splitter.Next(&f)) {
            s.contents.insert(s.contents.end(), f.bytes, f.bytes + f.length);
            f.bytes = nullptr;
            s.frames.push_back(f);
        }
    }
    s.truncated = splitter.Truncated();
    return s;
}

TEST(FrameSplitter, FrameLengthsFollowTheTypeBits)
{
    std::vector<uint8_t> s(24 + 20 + 4 + 1 + 24, 0);
    s[0] = 0xfc;   // type 0 (only the two lowest bits count)
    s[24] = 0x01;  // type 1
    s[44] = 0xfe;  // type 2
    s[48] = 0x03;  // type 3
    s[49] = 0x00;  // type 0
    const Split split = SplitInBlocks(s, 0);
    ASSERT_EQ(split.frames.size(), 5u);
    EXPECT_FALSE(split.truncated);
    const uint64_t offsets[] = {0, 24, 44, 48, 49};
    const FrameType types[] = {FrameType::kRate6300, FrameType::kRate5300, FrameType::kSilenceDescriptor,
                               FrameType::kUntransmitted, FrameType::kRate6300};
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(split.frames[k].offset, offsets[k]) << k;
        EXPECT_EQ(split.frames[k].type, types[k]) << k;
        EXPECT_EQ(split.frames[k].index, k);
        EXPECT_EQ(IsSpeech(split.frames[k].type), k == 0 || k == 1 || k == 4) << k;
    }
    EXPECT_TRUE(split.contents == s);
}

TEST(FrameSplitter, EveryCutPointKeepsTheWholeFramesAndReportsTheRest)
{
    const std::vector<uint8_t> stream = test::ReadFileBytes(test::DataPath("corpus/speech-a.53-vad.bit"));
    const std::vector<uint8_t> head(stream.begin(), stream.begin() + 3000);
    const Split whole = SplitInBlocks(head, 0);
    for (size_t cut = 0; cut <= head.size(); cut += 1 + cut / 500) {
        const Split split = SplitInBlocks(std::vector<uint8_t>(head.begin(), head.begin() + static_cast<long>(cut)), 7);
        size_t expectFrames = 0;
        while (expectFrames < whole.frames.size() &&
               whole.frames[expectFrames].offset + whole.frames[expectFrames].length <= cut)
            ++expectFrames;
        ASSERT_EQ(split.frames.size(), expectFrames) << "cut " << cut;
        const uint64_t end = expectFrames ? split.frames.back().offset + split.frames.back().length : 0;
        ASSERT_EQ(split.truncated.has_value(), end < cut) << "cut " << cut;
        if (split.truncated) {
            ASSERT_EQ(split.truncated->offset, end);
            ASSERT_EQ(split.truncated->present, cut - end);
            ASSERT_EQ(split.truncated->expected, mervox_frame_bytes(head[end]));
            ASSERT_GT(split.truncated->expected, split.truncated->present);
        }
    }
}

TEST(FrameSplitter, BlockBoundariesDoNotChangeTheFrames)
{
    // Random bytes (every type, truncated ends) and a corpus stream, pushed in
    // blocks of every small size and a few larger ones.
    std::mt19937 generator(5);
    std::vector<std::vector<uint8_t>> inputs;
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint8_t> bytes(generator() % 300);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(generator());
        inputs.push_back(bytes);
    }
    const std::vector<uint8_t> corpus = test::ReadFileBytes(test::DataPath("corpus/speech-a.mixed.bit"));
    inputs.emplace_back(corpus.begin(), corpus.begin() + 5003);
    for (const std::vector<uint8_t>& bytes : inputs) {
        const Split whole = SplitInBlocks(bytes, 0);
        ASSERT_EQ(whole.contents.size() + (whole.truncated ? whole.truncated->present : 0), bytes.size());
        for (const size_t block : std::initializer_list<size_t>{1, 2, 3, 4, 5, 19, 20, 21, 23, 24, 25, 97, 4096}) {
            const Split split = SplitInBlocks(bytes, block);
            ASSERT_EQ(split.frames.size(), whole.frames.size()) << "block " << block;
            ASSERT_TRUE(split.contents == whole.contents) << "block " << block;
            for (size_t k = 0; k < split.frames.size(); ++k)
                ASSERT_EQ(split.frames[k].offset, whole.frames[k].offset) << "block " << block << " frame " << k;
            ASSERT_EQ(split.truncated.has_value(), whole.truncated.has_value());
            if (split.truncated) {
                ASSERT_EQ(split.truncated->offset, whole.truncated->offset);
            }
        }
    }
}

TEST(StreamReader, ReadsACorpusStreamAcrossItsBlocks)
{
    // 93744 bytes: more than one 64 KiB block. Counts from the corpus
    // description of speech-a.63-vad.
    base::Result<StreamReader> reader = StreamReader::Open(test::DataPath("corpus/speech-a.63-vad.bit"), {});
    ASSERT_TRUE(reader.ok()) << reader.status().message();
    uint64_t count[4] = {};
    Frame f;
    while (reader.value().Next(&f))
        ++count[static_cast<int>(f.type)];
    EXPECT_TRUE(reader.value().status().ok());
    EXPECT_GT(reader.value().input().bytesRead(), StreamReader::kBlockBytes);
    EXPECT_EQ(count[0], 3878u);
    EXPECT_EQ(count[1], 0u);
    EXPECT_EQ(count[2], 19u);
    EXPECT_EQ(count[3], 9u);
    EXPECT_FALSE(reader.value().Truncated());
}

TEST(StreamReader, MissingAndEmptyInputsAreFailuresOfTheirOwn)
{
    const std::string dir = test::ScratchDir();
    base::Result<StreamReader> missing = StreamReader::Open(dir + "/absent.bit", {});
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.status().code(), base::kExitBadInput);
    EXPECT_EQ(missing.status().systemError(), ENOENT);
    EXPECT_EQ(missing.status().message(), dir + "/absent.bit: cannot open: No such file or directory");

    test::WriteFileBytes(dir + "/empty.bit", {});
    base::Result<StreamReader> empty = StreamReader::Open(dir + "/empty.bit", {});
    ASSERT_TRUE(empty.ok());
    Frame f;
    EXPECT_FALSE(empty.value().Next(&f));
    EXPECT_EQ(empty.value().status().message(), dir + "/empty.bit: byte 0: empty input, no frames");
    EXPECT_EQ(empty.value().status().code(), base::kExitBadInput);
}

}  // namespace
}  // namespace mervox::media::stream
