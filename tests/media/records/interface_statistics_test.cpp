// pcapng interface statistics blocks: counters kept per interface of each
// section in either byte order, the latest value of each; and those of a
// real capture by dumpcap as Wireshark's own pcapng dissector reads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "capture_builder.h"
#include "loopback_capture.h"
#include "records/record_reader.h"

namespace mervox::media::records {
namespace {

// Reads every record; the interfaces' statistics at the end, and the last record's time.
std::vector<InterfaceStatistics> ReadAll(std::unique_ptr<RecordReader> reader, int64_t* lastNs = nullptr)
{
    CaptureRecord record;
    RecordResult r;
    while ((r = reader->Next(record)) == RecordResult::kRecord)
        if (lastNs)
            *lastNs = record.timeNs;
    EXPECT_EQ(r, RecordResult::kEnd) << reader->error();
    return reader->interfaceStatistics();
}

TEST(InterfaceStatistics, LatestCountsPerInterfaceOfEachSectionInEitherByteOrder)
{
    // Past 32 bits, so that halves swapped (or the other byte order) cannot pass.
    constexpr uint64_t kBig = (uint64_t{3} << 32) | 7;
    for (const bool bigEndian : {false, true}) {
        capture::test::PcapngWriter w;  // begins with an empty section of its own
        w.Section(bigEndian);
        const capture::test::Bytes packet = capture::test::Ipv4Udp("192.0.2.1", 5060, "192.0.2.2", 5060, {1});
        w.Interface(1, 6, "eth0");
        w.Interface(1, 9);
        w.Add(1, packet, 5);
        w.Statistics(1, 2'000'000'000, {{4, 1000}, {5, 3}, {6, 900}});
        w.Statistics(7, 1, {{4, 1}});                 // an interface never described
        w.Statistics(1, 3'000'000'000, {{4, kBig}});  // later: the drops said before stay
        w.Section(!bigEndian);                        // interfaces from 0 again
        w.Interface(1, 6, "eth1");
        w.Statistics(0, 4'000'000, {{7, 2}, {8, kBig}, {4, 12}});
        std::string error;
        const auto s = ReadAll(RecordReader::Open(MemoryInput(w.bytes().data(), w.bytes().size()), &error));
        ASSERT_EQ(s.size(), 3u);
        const auto key = [](const InterfaceStatistics& i) {
            std::ostringstream text;
            const auto put = [&](const std::optional<uint64_t>& v) { text << ' ' << (v ? std::to_string(*v) : "-"); };
            text << i.section << ' ' << i.interface << ' ' << i.name << ' ' << (i.timeNs ? *i.timeNs : -1);
            for (const auto* v : {&i.received, &i.dropped, &i.accepted, &i.systemDropped, &i.delivered})
                put(*v);
            return text.str();
        };
        EXPECT_EQ(key(s[0]), "1 0 eth0 -1 - - - - -");
        EXPECT_EQ(key(s[1]), "1 1  3000000000 12884901895 3 900 - -");
        EXPECT_EQ(key(s[2]), "2 0 eth1 4000000000 12 - - 2 12884901895");  // in microseconds
    }
}

TEST(InterfaceStatistics, DumpcapsCountsAsWiresharkReadsThem)
{
    const std::string dir = ::testing::TempDir() + "mervox-isb-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    MERVOX_NEED_LOOPBACK_CAPTURE(dir);
    const std::string file = dir + "/lo.pcapng";
    int status = 0;
    {
        test::LoopbackTraffic traffic;
        const std::string said = test::RunShell("dumpcap -q -i lo -a duration:1 -w '" + file + "' 2>&1", &status);
        ASSERT_EQ(status, 0) << said;
    }
    // Only statistics blocks have these fields: one line of them per block.
    const std::string shown = test::RunShell(
        "tshark -r '" + file +
            "' -X read_format:'MIME Files Format' -T fields -E occurrence=a"
            " -e pcapng.options.option.data.interface.received -e pcapng.options.option.data.interface.dropped"
            " 2>/dev/null",
        &status);
    std::string error;
    int64_t lastNs = 0;
    const auto s = ReadAll(RecordReader::Open(std::fopen(file.c_str(), "rb"), &error), &lastNs);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].name, "lo");
    ASSERT_TRUE(s[0].received && s[0].dropped && s[0].timeNs);
    EXPECT_GT(*s[0].received, 100u) << "the traffic was not captured";
    EXPECT_EQ(shown, std::to_string(*s[0].received) + "\t" + std::to_string(*s[0].dropped) + "\n");
    // Its time (which dumpcap writes in microseconds, the packets' in nanoseconds): just after the last packet.
    EXPECT_GE(*s[0].timeNs, lastNs);
    EXPECT_LT(*s[0].timeNs, lastNs + 2'000'000'000);
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace mervox::media::records
