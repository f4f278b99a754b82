// Regression guard: every corpus stream, decoded through the exported
// functions as a host drives them, must give exactly the recorded output.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace mervox::test {
namespace {

struct Expected {
    std::string name;
    size_t frames;
    uint64_t digest;
};

void PrintTo(const Expected& e, std::ostream* os) { *os << e.name; }

std::vector<Expected> ReadExpectedDigests()
{
    std::ifstream in(DataPath("corpus/expected-digests.txt"));
    std::vector<Expected> all;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Expected e;
        std::string hex;
        fields >> e.name >> e.frames >> hex;
        e.digest = std::stoull(hex, nullptr, 16);
        if (e.name.rfind("speech-a.", 0) == 0)
            all.push_back(e);
    }
    return all;
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
    ASSERT_EQ(pcm.size(), e.frames * 240);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a64(pcm)));
    char want[17];
    std::snprintf(want, sizeof want, "%016llx", static_cast<unsigned long long>(e.digest));
    EXPECT_STREQ(hex, want) << e.name;
}

INSTANTIATE_TEST_SUITE_P(Streams, CorpusDigest, ::testing::ValuesIn(ReadExpectedDigests()),
                         [](const ::testing::TestParamInfo<Expected>& info) {
                             std::string n = info.param.name;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

TEST(CorpusDigest, AllStreamsListed)
{
    EXPECT_EQ(ReadExpectedDigests().size(), 9u);
}

}  // namespace
}  // namespace mervox::test
