// pcapng interface statistics blocks: counters kept per interface of each
// section in either byte order, the latest value of each, and those of a
// real capture by dumpcap as Wireshark's own pcapng dissector reads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "capture_builder.h"
#include "loopback_capture.h"
#include "records/record_reader.h"

namespace mervox::media::records {
namespace {

using capture::test::Bytes;
using capture::test::PcapngWriter;

std::unique_ptr<RecordReader> OpenBytes(const Bytes& bytes)
{
    std::string error;
    auto reader = RecordReader::Open(MemoryInput(bytes.data(), bytes.size()), &error);
    EXPECT_TRUE(reader) << error;
    return reader;
}

// Counters past 32 bits, so that a value read with its halves swapped (or
// in the other byte order) cannot pass.
constexpr uint64_t kBig = (uint64_t{3} << 32) | 7;

TEST(InterfaceStatistics, LatestCountsPerInterfaceOfEachSectionInEitherByteOrder)
{
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian first section" : "little-endian first section");
        PcapngWriter w;
        w.Section(bigEndian);
        const Bytes packet = capture::test::Ipv4Udp("192.0.2.1", 5060, "192.0.2.2", 5060, {1, 2, 3});
        w.Interface(1, 6, "eth0");
        w.Interface(1, 9);
        w.Add(1, packet, 5);
        w.Statistics(1, 2'000'000'000, {{4, 1000}, {5, 3}, {6, 900}});
        w.Statistics(7, 1, {{4, 1}});  // an interface never described: no entry
        w.Add(0, packet, 6);
        // Later: the received count grows; the drops stated before stay.
        w.Statistics(1, 3'000'000'000, {{4, kBig}});
        // A second section, the other byte order, numbering from 0 again.
        w.Section(!bigEndian);
        w.Interface(1, 6, "eth1");
        w.Statistics(0, 4'000'000, {{7, 2}, {8, kBig}, {4, 12}});
        w.Add(0, packet, 7);

        const auto reader = OpenBytes(w.bytes());
        ASSERT_TRUE(reader);
        CaptureRecord record;
        int records = 0;
        RecordResult r;
        while ((r = reader->Next(record)) == RecordResult::kRecord)
            ++records;
        EXPECT_EQ(r, RecordResult::kEnd) << reader->error();
        EXPECT_EQ(records, 3);

        const auto& s = reader->interfaceStatistics();
        ASSERT_EQ(s.size(), 3u);
        EXPECT_EQ(s[0].section, 1u);  // after the writer's own empty first section
        EXPECT_EQ(s[0].interface, 0u);
        EXPECT_EQ(s[0].name, "eth0");
        EXPECT_FALSE(s[0].timeNs || s[0].received || s[0].dropped);

        EXPECT_EQ(s[1].section, 1u);
        EXPECT_EQ(s[1].interface, 1u);
        EXPECT_EQ(s[1].name, "");
        EXPECT_EQ(s[1].timeNs, 3'000'000'000);  // nanosecond units
        EXPECT_EQ(s[1].received, kBig);
        EXPECT_EQ(s[1].dropped, 3u);
        EXPECT_EQ(s[1].accepted, 900u);
        EXPECT_FALSE(s[1].systemDropped || s[1].delivered);

        EXPECT_EQ(s[2].section, 2u);
        EXPECT_EQ(s[2].interface, 0u);
        EXPECT_EQ(s[2].name, "eth1");
        EXPECT_EQ(s[2].timeNs, 4'000'000'000);  // microsecond units
        EXPECT_EQ(s[2].received, 12u);
        EXPECT_EQ(s[2].systemDropped, 2u);
        EXPECT_EQ(s[2].delivered, kBig);
        EXPECT_FALSE(s[2].dropped || s[2].accepted);
    }
}

// The interface statistics blocks as Wireshark's pcapng file dissector
// shows them (tshark -X read_format:"MIME Files Format" -V): per block,
// its interface, timestamp and counters by option name.
std::vector<std::map<std::string, uint64_t>> TsharkStatistics(const std::string& file)
{
    int status = 0;
    const std::string out = test::RunShell("tshark -r '" + file + "' -X read_format:'MIME Files Format' -V", &status);
    EXPECT_EQ(status, 0) << out;
    std::vector<std::map<std::string, uint64_t>> blocks;
    bool inBlock = false;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.rfind("Block: ", 0) == 0) {
            inBlock = line == "Block: Interface Statistics Block";
            if (inBlock)
                blocks.emplace_back();
            continue;
        }
        const size_t colon = line.rfind(": ");
        if (!inBlock || colon == std::string::npos || line.rfind("Option", 0) == 0)
            continue;
        const std::string value = line.substr(colon + 2);
        if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos)
            blocks.back()[line.substr(0, colon)] = std::stoull(value);
    }
    return blocks;
}

TEST(InterfaceStatistics, DumpcapsCountsAsWiresharkReadsThem)
{
    const std::string dir = ::testing::TempDir() + "mervox-isb-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    MERVOX_NEED_LOOPBACK_CAPTURE(dir);
    const std::string file = dir + "/lo.pcapng";
    {
        test::LoopbackTraffic traffic;
        int status = 0;
        const std::string out = test::RunShell("dumpcap -q -i lo -a duration:1 -w '" + file + "'", &status);
        ASSERT_EQ(status, 0) << out;
    }
    const auto blocks = TsharkStatistics(file);
    ASSERT_EQ(blocks.size(), 1u) << "dumpcap writes one statistics block at the end";
    const auto& shown = blocks[0];

    std::string error;
    const auto reader = RecordReader::Open(std::fopen(file.c_str(), "rb"), &error);
    ASSERT_TRUE(reader) << error;
    CaptureRecord record;
    int64_t lastNs = 0;
    uint64_t records = 0;
    while (reader->Next(record) == RecordResult::kRecord) {
        lastNs = record.timeNs;
        ++records;
    }
    const auto& s = reader->interfaceStatistics();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].name, "lo");
    ASSERT_TRUE(s[0].received && s[0].dropped && s[0].timeNs);
    EXPECT_EQ(*s[0].received, shown.at("Number of Received Packets"));
    EXPECT_EQ(*s[0].dropped, shown.at("Number of Dropped Packets"));
    EXPECT_GE(*s[0].received, records);
    EXPECT_GT(records, 100u) << "the traffic was not captured";
    // The block's time: after the last packet, within the second of the capture.
    EXPECT_GE(*s[0].timeNs, lastNs);
    EXPECT_LT(*s[0].timeNs, lastNs + 2'000'000'000);
    // The options Wireshark shows that the reader keeps too.
    const std::pair<const char*, const std::optional<uint64_t>&> others[] = {
        {"Number of Accepted by Filter Packets", s[0].accepted},
        {"Number of Dropped Packets by OS", s[0].systemDropped},
        {"Number of Delivered to the User Packets", s[0].delivered}};
    for (const auto& [label, value] : others) {
        EXPECT_EQ(shown.count(label), value ? 1u : 0u) << label;
        if (value && shown.count(label)) {
            EXPECT_EQ(*value, shown.at(label)) << label;
        }
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace mervox::media::records
