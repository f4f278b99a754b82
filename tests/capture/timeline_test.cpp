// Ordering packets and laying their frames on the timeline, on hand-made
// packet records: wraps, duplicates, late packets, gaps, mixed frames.
#include <gtest/gtest.h>

#include <string>

#include "stream_timeline.h"

namespace mervox::capture {
namespace {

// A packet whose payload holds frames of the given types ("0", "01", "023", ...).
StreamPacket Packet(uint16_t sequence, uint32_t timestamp, const std::string& types = "0")
{
    StreamPacket p;
    p.sequence = sequence;
    p.timestamp = timestamp;
    for (char c : types) {
        const int type = c - '0';
        p.payload.push_back(static_cast<uint8_t>(type | 0x40));
        p.payload.insert(p.payload.end(), FrameBytes(static_cast<FrameType>(type)) - 1, static_cast<uint8_t>(p.payload.size()));
    }
    EXPECT_TRUE(SplitFrames(ByteView{p.payload.data(), p.payload.size()}, p.frames));
    return p;
}

// The timeline as text: one letter per frame slot, "a"/"b" for 6.3/5.3
// frames, "s"/"u" for silence-descriptor/untransmitted frames, "-" for a
// lost frame; each received frame followed by the sequence number of its packet.
std::string Layout(const std::vector<StreamPacket>& packets, const Timeline& t)
{
    std::string text;
    for (const TimelineEntry& e : t.entries) {
        if (e.lostFrames) {
            text += std::string(e.lostFrames, '-');
            continue;
        }
        text += "absu"[static_cast<int>(e.type)];
        text += std::to_string(packets[e.packet].sequence);
    }
    return text;
}

TEST(Timeline, SequenceWrapWithLatePacketAndGap)
{
    // Sequence numbers cross 65535 -> 0; packet 0 comes late; 2 never comes.
    const std::vector<StreamPacket> p = {Packet(65534, 1000), Packet(65535, 1240), Packet(1, 1720), Packet(0, 1480),
                                         Packet(3, 2200)};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a65534a65535a0a1-a3");
    EXPECT_EQ(t.stats.reordered, 1u);
    EXPECT_EQ(t.stats.lostFrames, 1u);
    EXPECT_EQ(t.stats.frames, 5u);
    EXPECT_EQ(t.stats.TimelineFrames(), 6u);
    EXPECT_DOUBLE_EQ(t.stats.DurationSeconds(), 0.18);
}

TEST(Timeline, TimestampWrapKeepsTheGapsRight)
{
    // 2^32 - 480, -240, (0 lost), 240, 480; then two frames in one packet.
    const std::vector<StreamPacket> p = {Packet(10, 0xfffffe20u), Packet(11, 0xffffff10u), Packet(13, 240),
                                         Packet(14, 480, "11")};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a10a11-a13b14b14");
    EXPECT_EQ(t.stats.lostFrames, 1u);
    EXPECT_EQ(t.stats.rateSwitches, 1u);
}

TEST(Timeline, ReorderedFirstPacketStartsTheTimeline)
{
    const std::vector<StreamPacket> p = {Packet(101, 8240), Packet(100, 8000), Packet(102, 8480)};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a100a101a102");
    EXPECT_EQ(t.stats.reordered, 1u);
    EXPECT_EQ(t.stats.lostFrames, 0u);
}

TEST(Timeline, DuplicatesAreDroppedAndCounted)
{
    const std::vector<StreamPacket> p = {Packet(5, 0),   Packet(6, 240), Packet(5, 0),
                                         Packet(7, 480), Packet(6, 240), Packet(6, 240)};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a5a6a7");
    EXPECT_EQ(t.stats.packets, 6u);
    EXPECT_EQ(t.stats.duplicates, 3u);
    EXPECT_EQ(t.stats.reordered, 0u);  // duplicates are not late packets
}

TEST(Timeline, MultiFramePayloadsMixingFrameTypes)
{
    // 6.3, SID, 5.3, untransmitted in one packet: 4 frames, 960 ticks; the
    // next packet starts right after, the one after that leaves 2 frames out.
    const std::vector<StreamPacket> p = {Packet(1, 0, "0213"), Packet(2, 960, "10"), Packet(3, 1920, "3")};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a1s1b1u1b2a2--u3");
    EXPECT_EQ(t.stats.frames, 7u);
    EXPECT_EQ(t.stats.speechFrames, 4u);
    EXPECT_EQ(t.stats.silenceFrames, 3u);
    EXPECT_EQ(t.stats.lostFrames, 2u);
    // Rate switches count between speech frames, across silence: a->b, b->a.
    EXPECT_EQ(t.stats.rateSwitches, 2u);
    // Offsets point at each frame's first byte.
    ASSERT_EQ(t.entries.size(), 8u);
    EXPECT_EQ(t.entries[1].offset, 24);
    EXPECT_EQ(t.entries[2].offset, 28);
    EXPECT_EQ(t.entries[3].offset, 48);
    EXPECT_EQ(t.entries[5].offset, 20);
}

TEST(Timeline, SilenceWithoutPacketsBecomesLostFrames)
{
    // A sender that stops during silence: 100 frames (3 s) without packets.
    const std::vector<StreamPacket> p = {Packet(1, 0), Packet(2, 240 * 101)};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(t.stats.lostFrames, 100u);
    EXPECT_EQ(t.stats.timestampJumps, 0u);
    ASSERT_EQ(t.entries.size(), 3u);
    EXPECT_EQ(t.entries[1].lostFrames, 100u);
}

TEST(Timeline, HugeTimestampJumpForwardIsShortened)
{
    const std::vector<StreamPacket> p = {Packet(1, 0), Packet(2, 0x7fff0000u), Packet(3, 0x7fff00f0u)};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(t.stats.timestampJumps, 1u);
    EXPECT_EQ(t.stats.lostFrames, static_cast<uint64_t>(kMaxGapFrames));
    EXPECT_EQ(t.stats.frames, 3u);
}

TEST(Timeline, ClockRestartedFarBackContinuesTheCall)
{
    // The sender's clock restarts 10 minutes back at packet 3 and runs on
    // from there: the call goes on, with its own gap (packet 5) kept.
    const uint32_t back = 10000000u - 240 * 8000;
    const std::vector<StreamPacket> p = {Packet(1, 10000000), Packet(2, 10000240), Packet(3, back, "01"),
                                         Packet(4, back + 480), Packet(6, back + 960)};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a1a2a3b3a4-a6");
    EXPECT_EQ(t.stats.timestampJumps, 1u);
    EXPECT_EQ(t.stats.overlapping, 0u);
}

TEST(Timeline, FramesOverlappingEarlierOnesAreDropped)
{
    // Packet 3 claims the time of packet 2's second frame.
    const std::vector<StreamPacket> p = {Packet(1, 0), Packet(2, 240, "00"), Packet(3, 480), Packet(4, 720)};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a1a2a2a4");
    EXPECT_EQ(t.stats.overlapping, 1u);
}

TEST(Timeline, TimestampsOffTheFrameGridRoundToTheNearestFrame)
{
    const std::vector<StreamPacket> p = {Packet(1, 0), Packet(2, 250), Packet(3, 470), Packet(4, 955)};
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a1a2a3-a4");
}

TEST(Timeline, PacketsWithoutFramesKeepTheirPlace)
{
    StreamPacket empty = Packet(2, 240, "");
    std::vector<StreamPacket> p = {Packet(1, 0), empty, Packet(3, 480)};
    Timeline t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a1-a3");
    // A payload cut short keeps its complete frames and is counted.
    StreamPacket cut = Packet(4, 720, "01");
    cut.payload.resize(30);
    cut.frames.clear();
    EXPECT_FALSE(SplitFrames(ByteView{cut.payload.data(), cut.payload.size()}, cut.frames));
    cut.payloadCutShort = true;
    p.push_back(cut);
    t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a1-a3a4");
    EXPECT_EQ(t.stats.cutShortPayloads, 1u);
}

TEST(Timeline, EmptyStream)
{
    const Timeline t = BuildTimeline({});
    EXPECT_TRUE(t.entries.empty());
    EXPECT_EQ(t.stats.TimelineFrames(), 0u);
}

}  // namespace
}  // namespace mervox::capture
