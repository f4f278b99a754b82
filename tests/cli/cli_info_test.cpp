// `mervox info`: counts by type, faulty frames, rate switches, duration
// and truncation, as JSON and as text.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_test_support.h"
#include "test_support.h"

namespace mervox::test {
namespace {

// A 6.3 kbit/s frame, a 5.3 kbit/s frame, a silence descriptor, an
// untransmitted frame and a faulty 6.3 kbit/s frame (first lag code 127),
// then the first 5 bytes of another 6.3 kbit/s frame.
std::vector<uint8_t> CraftedStream()
{
    const std::vector<uint8_t> r63 = ReadFileBytes(DataPath("corpus/speech-a.63.bit"));
    const std::vector<uint8_t> r53 = ReadFileBytes(DataPath("corpus/speech-a.53.bit"));
    std::vector<uint8_t> frame63(r63.begin() + 24 * 50, r63.begin() + 24 * 51);
    std::vector<uint8_t> frame53(r53.begin() + 20 * 50, r53.begin() + 20 * 51);
    std::vector<uint8_t> faulty = frame63;
    faulty[3] |= 0xfc;
    faulty[4] |= 0x01;
    std::vector<uint8_t> s;
    for (const auto* f : {&frame63, &frame63, &frame53})  // 0 1 2
        s.insert(s.end(), f->begin(), f->end());
    s.insert(s.end(), {0x02, 0x11, 0x22, 0x33});        // 3: silence descriptor
    s.insert(s.end(), frame53.begin(), frame53.end());  // 4
    s.push_back(0x03);                                  // 5: untransmitted
    s.insert(s.end(), faulty.begin(), faulty.end());    // 6
    s.insert(s.end(), frame63.begin(), frame63.begin() + 5);
    return s;
}

TEST(CliInfo, JsonDescribesACraftedStream)
{
    const std::string dir = ScratchDir();
    const std::vector<uint8_t> stream = CraftedStream();
    WriteFileBytes(dir + "/s.bit", stream);
    const CliRun run = RunCli("info --json '" + dir + "/s.bit'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("s.bit: byte " + std::to_string(stream.size() - 5) + ": truncated"), std::string::npos)
        << run.err;
    const nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["frames"], 7);
    EXPECT_EQ(j["bytes"], stream.size());
    EXPECT_DOUBLE_EQ(j["duration_seconds"].get<double>(), 0.21);
    EXPECT_EQ(j["frames_by_type"]["rate_6300"], 3);
    EXPECT_EQ(j["frames_by_type"]["rate_5300"], 2);
    EXPECT_EQ(j["frames_by_type"]["silence_descriptor"], 1);
    EXPECT_EQ(j["frames_by_type"]["untransmitted"], 1);
    EXPECT_EQ(j["faulty_frames"], nlohmann::json::array({6}));
    EXPECT_EQ(j["rate_switches"], 2);  // 6.3 -> 5.3 at frame 2, back at frame 6
    EXPECT_EQ(j["truncated"]["offset"], stream.size() - 5);
    EXPECT_EQ(j["truncated"]["bytes"], 5);
    EXPECT_EQ(j["truncated"]["expected_bytes"], 24);
}

TEST(CliInfo, JsonOfAFileNameThatIsNotUtf8)
{
    // Latin-1 "café.bit": legal on Linux, invalid UTF-8 for JSON.
    const std::string dir = ScratchDir();
    WriteFileBytes(dir + "/caf\xe9.bit", CraftedStream());
    const CliRun run = RunCli("info --json '" + dir + "/caf\xe9.bit'");
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["file"], dir + "/caf\xef\xbf\xbd.bit");  // U+FFFD in place of the byte
    EXPECT_EQ(j["frames"], 7);
}

TEST(CliInfo, CorpusStreamAsJsonAndText)
{
    const std::string in = DataPath("corpus/speech-a.63-vad.bit");
    CliRun run = RunCli("info '" + in + "' --json");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const nlohmann::json j = nlohmann::json::parse(run.out);
    // The corpus description: 3878 speech frames, 19 silence descriptors,
    // 9 untransmitted frames.
    EXPECT_EQ(j["frames"], 3906);
    EXPECT_EQ(j["frames_by_type"]["rate_6300"], 3878);
    EXPECT_EQ(j["frames_by_type"]["silence_descriptor"], 19);
    EXPECT_EQ(j["frames_by_type"]["untransmitted"], 9);
    EXPECT_EQ(j["rate_switches"], 0);
    EXPECT_TRUE(j["truncated"].is_null());

    run = RunCli("info - ", in);
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("frames:             3906 (117.18 s)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("silence (SID):    19"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace mervox::test
