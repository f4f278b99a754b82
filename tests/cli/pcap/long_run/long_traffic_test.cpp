// The long-traffic generator's schedule: calls held to the number open at
// once, every call made once within the capture, packets in time order, the
// speech share, and the same capture from the same seed. (What the packets
// say is checked by Wireshark: long_traffic_tshark_test.py.)
#include "long_traffic.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "test_support.h"

namespace mervox::media::capture::test {
namespace {

struct Traffic {
    size_t packets = 0, rtpPackets = 0, mostOpen = 0;
    bool inOrder = true;
    std::vector<LongTrafficCall> calls;
    uint64_t digest = 0xcbf29ce484222325ull;  // FNV-1a of times and bytes
};

Traffic Generate(const LongTrafficOptions& o)
{
    static const LongTrafficFrames frames = LoadLongTrafficFrames(mervox::test::DataPath("corpus"));
    LongTraffic traffic(o, frames);
    Traffic r;
    int64_t last = 0;
    for (bool more = true; more;) {
        more = traffic.Next();
        r.calls.insert(r.calls.end(), traffic.endedCalls().begin(), traffic.endedCalls().end());
        r.mostOpen = std::max(r.mostOpen, traffic.openCalls());
        if (!more)
            break;
        const Bytes& p = traffic.packet();
        r.inOrder = r.inOrder && traffic.micros() >= last;
        last = traffic.micros();
        ++r.packets;
        // UDP whose first payload byte is RTP version 2 and payload type 4, from a call's address
        r.rtpPackets += p.size() > 54 && p[23] == 17 && p[26] == 10 && p[42] >> 6 == 2 && (p[43] & 0x7f) == 4;
        for (const uint8_t b : p)
            r.digest = (r.digest ^ b) * 0x100000001b3ull;
        r.digest = (r.digest ^ static_cast<uint64_t>(last)) * 0x100000001b3ull;
    }
    return r;
}

TEST(LongTraffic, CallsWaitForRoomAndAllEndWithinTheCapture)
{
    LongTrafficOptions o;
    o.hours = 0.25;
    o.calls = 60;  // 10 open at once on average, up to 15 if none had to wait
    o.minCallSeconds = 60;
    o.maxCallSeconds = 180;
    o.maxOpenCalls = 9;
    EXPECT_THROW(Generate(o), std::invalid_argument);
    o.maxOpenCalls = 11;
    o.speechShare = 0.2;
    const Traffic r = Generate(o);
    EXPECT_TRUE(r.inOrder);
    EXPECT_EQ(r.mostOpen, 11u);
    ASSERT_EQ(r.calls.size(), 60u);
    std::set<uint64_t> indexes;
    std::set<std::string> addresses;
    for (const LongTrafficCall& c : r.calls) {
        indexes.insert(c.index);
        addresses.insert(c.caller.substr(0, c.caller.find(':')));
        EXPECT_LT(c.start, c.end);
        EXPECT_LE(c.end, o.hours * 3600);
    }
    EXPECT_EQ(indexes.size(), 60u);
    EXPECT_EQ(addresses.size(), 60u);
}

TEST(LongTraffic, SpeechShareAndSeed)
{
    LongTrafficOptions o;
    o.hours = 0.1;
    o.calls = 6;
    o.minCallSeconds = 60;
    o.maxCallSeconds = 120;
    o.junkPerSecond = 0;
    const Traffic full = Generate(o);
    EXPECT_EQ(Generate(o).digest, full.digest);
    o.seed = 2;
    EXPECT_NE(Generate(o).digest, full.digest);
    o.seed = 1;
    o.speechShare = 0.25;
    const Traffic quarter = Generate(o);
    // A quarter of the frames as speech, and a silence descriptor per talkspurt.
    EXPECT_GT(quarter.rtpPackets, full.rtpPackets / 5);
    EXPECT_LT(quarter.rtpPackets, full.rtpPackets * 3 / 10);
}

}  // namespace
}  // namespace mervox::media::capture::test
