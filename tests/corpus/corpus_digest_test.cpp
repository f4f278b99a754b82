// Regression guard: every corpus stream, decoded through the exported
// functions as a host drives them, must give exactly the recorded output.
// Besides the digest of the whole output, a digest per block of frames
// names the first block that differs.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "mervox.h"
#include "test_support.h"

namespace mervox::test {
namespace {

constexpr size_t kFramesPerBlock = 100;  // as recorded in block-digests.txt

struct Expected {
    std::string name;
    size_t frames;
    uint64_t digest;
    std::vector<uint64_t> blocks;  // block k: frames 100k .. 100k + 99
};

void PrintTo(const Expected& e, std::ostream* os) { *os << e.name; }

// Non-comment lines of a digest file under tests/data/corpus, split into fields.
std::vector<std::istringstream> DigestLines(const std::string& file)
{
    std::ifstream in(DataPath("corpus/" + file));
    EXPECT_TRUE(in.good()) << "cannot read " << file;
    std::vector<std::istringstream> lines;
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#')
            lines.emplace_back(line);
    return lines;
}

std::vector<Expected> ReadExpectedDigests()
{
    std::map<std::string, std::vector<uint64_t>> blocks;
    for (std::istringstream& fields : DigestLines("block-digests.txt")) {
        std::string name, hex;
        size_t block = 0;
        fields >> name >> block >> hex;
        std::vector<uint64_t>& list = blocks[name];
        EXPECT_EQ(block, list.size()) << name << ": blocks out of order";
        list.push_back(std::stoull(hex, nullptr, 16));
    }
    std::vector<Expected> all;
    for (std::istringstream& fields : DigestLines("expected-digests.txt")) {
        Expected e;
        std::string hex;
        fields >> e.name >> e.frames >> hex;
        e.digest = std::stoull(hex, nullptr, 16);
        e.blocks = blocks[e.name];
        if (e.name.rfind("speech-a.", 0) == 0)
            all.push_back(e);
    }
    return all;
}

std::string Hex(uint64_t digest)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
    return hex;
}

class CorpusDigest : public ::testing::TestWithParam<Expected> {};

TEST_P(CorpusDigest, DecodesToRecordedOutput)
{
    const Expected& e = GetParam();
    const bool masked = e.name.size() > 5 && e.name.compare(e.name.size() - 5, 5, ".loss") == 0;
    const std::string stem = masked ? e.name.substr(0, e.name.size() - 5) : e.name;
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/" + stem + ".bit"));
    std::vector<uint8_t> mask;
    if (masked)
        mask = ReadFileBytes(DataPath("corpus/" + stem + ".loss"));

    const std::vector<int16_t> pcm = DecodeWithLegacyApi(stream, mask);
    ASSERT_EQ(pcm.size(), e.frames * MERVOX_FRAME_SAMPLES);
    EXPECT_EQ(Hex(Fnv1a64(pcm)), Hex(e.digest)) << e.name << ": whole output";

    const size_t blockSamples = kFramesPerBlock * MERVOX_FRAME_SAMPLES;
    ASSERT_EQ(e.blocks.size(), (pcm.size() + blockSamples - 1) / blockSamples) << e.name << ": block digests";
    for (size_t k = 0; k < e.blocks.size(); ++k) {
        const auto first = pcm.begin() + static_cast<std::ptrdiff_t>(k * blockSamples);
        const auto last = pcm.begin() + static_cast<std::ptrdiff_t>(std::min(pcm.size(), (k + 1) * blockSamples));
        if (Fnv1a64(std::vector<int16_t>(first, last)) != e.blocks[k]) {
            ADD_FAILURE() << e.name << ": first difference in frames " << k * kFramesPerBlock << " to "
                          << std::min(e.frames, (k + 1) * kFramesPerBlock) - 1;
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, CorpusDigest, ::testing::ValuesIn(ReadExpectedDigests()),
                         [](const ::testing::TestParamInfo<Expected>& param) {
                             std::string n = param.param.name;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

TEST(CorpusDigest, AllStreamsListed) { EXPECT_EQ(ReadExpectedDigests().size(), 9u); }

}  // namespace
}  // namespace mervox::test
