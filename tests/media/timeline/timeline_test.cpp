// Ordering packets and laying their frames on the timeline, on hand-made
// packet records: wraps, duplicates, late packets, gaps, mixed frames.
#include <gtest/gtest.h>

#include <string>

#include "timeline/stream_timeline.h"

namespace mervox::media::timeline {
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
        p.payload.insert(p.payload.end(), mervox_frame_bytes(static_cast<uint8_t>(type)) - 1,
                         static_cast<uint8_t>(p.payload.size()));
    }
    EXPECT_TRUE(packets::SplitFrames(net::ByteView{p.payload.data(), p.payload.size()}, p.frames));
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
    EXPECT_FALSE(packets::SplitFrames(net::ByteView{cut.payload.data(), cut.payload.size()}, cut.frames));
    cut.payloadCutShort = true;
    p.push_back(cut);
    t = BuildTimeline(p);
    EXPECT_EQ(Layout(p, t), "a1-a3a4");
    EXPECT_EQ(t.stats.cutShortPayloads, 1u);
}

// `count` one-frame packets, sequence numbers and timestamps running on
// (each wrapping as it does on the wire).
std::vector<StreamPacket> Packets(uint16_t firstSequence, uint32_t firstTimestamp, size_t count,
                                  const std::string& types = "0")
{
    std::vector<StreamPacket> p;
    for (size_t k = 0; k < count; ++k)
        p.push_back(Packet(static_cast<uint16_t>(firstSequence + k),
                           firstTimestamp + static_cast<uint32_t>(240 * types.size() * k), types));
    return p;
}

std::vector<StreamPacket> Join(std::vector<StreamPacket> a, const std::vector<StreamPacket>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Timeline, SequenceNumberJumpsStartANewRunEitherWay)
{
    // A sender that renumbers its packets mid-call, timestamps running on:
    // forward (100-149, then 40050-40099) and back (30000-30049, then
    // 150-199). Every frame is kept, in one piece.
    for (const auto& [first, second] : {std::pair<uint16_t, uint16_t>{100, 40050}, {30000, 150}, {65500, 20000}}) {
        SCOPED_TRACE(second);
        const std::vector<StreamPacket> p = Join(Packets(first, 8000, 50), Packets(second, 8000 + 50 * 240, 50));
        const Timeline t = BuildTimeline(p);
        EXPECT_EQ(t.stats.frames, 100u);
        EXPECT_EQ(t.stats.lostFrames, 0u);
        EXPECT_EQ(t.stats.overlapping, 0u);
        EXPECT_EQ(t.stats.reordered, 0u);
        EXPECT_EQ(t.stats.sequenceRuns, 1u);
        ASSERT_EQ(t.entries.size(), 100u);
        for (size_t k = 0; k < t.entries.size(); ++k)
            ASSERT_EQ(t.entries[k].packet, k);
    }
}

TEST(Timeline, OneCorruptedSequenceNumberLosesNothing)
{
    // Packet 50 carries a wild sequence number: two restarts, and its frame
    // still goes where its timestamp puts it.
    std::vector<StreamPacket> p = Packets(0, 0, 100);
    p[50].sequence = 30050;
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(t.stats.sequenceRuns, 2u);
    EXPECT_EQ(t.stats.frames, 100u);
    EXPECT_EQ(t.stats.lostFrames, 0u);
    EXPECT_EQ(t.stats.overlapping, 0u);
    EXPECT_EQ(t.stats.late, 0u);
}

TEST(Timeline, AfterARestartTheOldRunsStragglersAreLate)
{
    // Packet 148 of the old numbering arrives after the new run began.
    std::vector<StreamPacket> p = Join(Packets(100, 0, 50), Packets(40050, 50 * 240, 20));
    StreamPacket straggler = p[48];
    p.erase(p.begin() + 48);
    p.insert(p.begin() + 55, straggler);
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(t.stats.sequenceRuns, 1u);
    EXPECT_EQ(t.stats.late, 1u);
    EXPECT_EQ(t.stats.frames, 69u);
    EXPECT_EQ(t.stats.lostFrames, 1u);  // its slot, concealed
}

TEST(Timeline, PacketsBeyondTheReorderingWindowAreLate)
{
    // A packet is put in place until a later one has left the window:
    // packet 10 arrives after packet 10 + window (just in time), packet 20
    // after packet 21 + window (too late).
    const std::vector<StreamPacket> call = Packets(0, 0, 200);
    std::vector<StreamPacket> p;
    for (size_t k = 0; k < call.size(); ++k) {
        if (k != 10 && k != 20)
            p.push_back(call[k]);
        if (k == 10 + kReorderWindow)
            p.push_back(call[10]);
        if (k == 21 + kReorderWindow)
            p.push_back(call[20]);
    }
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(t.stats.reordered, 1u);
    EXPECT_EQ(t.stats.late, 1u);
    EXPECT_EQ(t.stats.duplicates, 0u);
    EXPECT_EQ(t.stats.frames, 199u);
    EXPECT_EQ(t.stats.lostFrames, 1u);
    // A duplicate of a packet long placed is still a duplicate.
    p.push_back(call[150]);
    EXPECT_EQ(BuildTimeline(p).stats.duplicates, 1u);
}

TEST(Timeline, AStrayTimestampIsPlacedBySequenceNumber)
{
    // One packet 30 s ahead (or behind) of its neighbours: in the middle of
    // a 3000-packet call, or as the first packet.
    constexpr uint32_t kThirtySeconds = 30 * 8000;
    for (const size_t at : {size_t{1500}, size_t{0}}) {
        for (const bool ahead : {true, false}) {
            if (at == 0 && !ahead)
                continue;  // a first packet followed by 30 s of silence is just that
            SCOPED_TRACE(std::to_string(at) + (ahead ? " ahead" : " behind"));
            std::vector<StreamPacket> p = Packets(7, 1000000, 3000);
            p[at].timestamp += ahead ? kThirtySeconds : -kThirtySeconds;
            const Timeline t = BuildTimeline(p);
            EXPECT_EQ(t.stats.strayTimestamps, 1u);
            EXPECT_EQ(t.stats.frames, 3000u);
            EXPECT_EQ(t.stats.lostFrames, 0u);
            EXPECT_EQ(t.stats.overlapping, 0u);
            EXPECT_EQ(t.entries.size(), 3000u);
            EXPECT_EQ(t.entries[at].packet, at);
        }
    }
}

TEST(Timeline, SilenceBetweenTalkSpurtsIsNoStrayTimestamp)
{
    // 5 s without packets, and a lone packet between two silences.
    const std::vector<StreamPacket> p =
        Join(Join(Packets(1, 0, 20), Packets(21, 240 * (20 + 166), 1)), Packets(22, 240 * (21 + 2 * 166), 20));
    const Timeline t = BuildTimeline(p);
    EXPECT_EQ(t.stats.strayTimestamps, 0u);
    EXPECT_EQ(t.stats.lostFrames, 2u * 166);
    EXPECT_EQ(t.stats.frames, 41u);
}

TEST(Timeline, ConcealmentIsBoundedByTheFramesAndTheCaptureTime)
{
    // 3000 untransmitted one-byte frames, 59.97 s apart, received within
    // 90 s: without a bound, 50 hours of concealment.
    std::vector<StreamPacket> p;
    for (uint16_t k = 0; k < 3000; ++k) {
        p.push_back(Packet(k, k * 1999u * 240, "3"));
        p.back().arrival = 1000 + k * 0.03;
    }
    const Timeline bounded = BuildTimeline(p);
    // Nothing real: the allowance plus what the capture's 90 s can hold.
    EXPECT_LE(bounded.stats.lostFrames, kConcealAllowance);
    EXPECT_EQ(bounded.stats.lostFrames + bounded.stats.unfilledFrames, 2999u * 1998);
    EXPECT_EQ(bounded.stats.frames, 3000u);

    TimelineRules unbounded;
    unbounded.limitConcealment = false;
    EXPECT_EQ(BuildTimeline(p, unbounded).stats.lostFrames, 2999u * 1998);

    // Real speech with long silences, received over as long a time: 50
    // talk spurts of 20 frames, each followed by 3 s without packets.
    p.clear();
    for (uint16_t k = 0; k < 1000; ++k) {
        p.push_back(Packet(k, 240u * (k + k / 20 * 100u)));
        p.back().arrival = 1000 + p.back().timestamp / 8000.0;
    }
    const Timeline speech = BuildTimeline(p);
    EXPECT_EQ(speech.stats.unfilledFrames, 0u);
    EXPECT_EQ(speech.stats.lostFrames, 49u * 100);
}

TEST(Timeline, TheAllowanceIsEarnedByRealFrames)
{
    // `real` speech frames, then one more after 59.97 s without packets,
    // received in real time: the capture time is no limit.
    TimelineRules rules;
    rules.realFramesForAllowance = kRealFramesForAllowance;  // as in a capture
    auto afterJump = [&](uint16_t real) {
        std::vector<StreamPacket> p;
        for (uint16_t k = 0; k <= real; ++k) {
            p.push_back(Packet(k, 240u * (k < real ? k : k + 1998)));
            p.back().arrival = 1000 + p.back().timestamp / 8000.0;
        }
        return BuildTimeline(p, rules).stats;
    };
    // Not yet proved real: ten lost frames per real frame, whatever the capture time.
    EXPECT_EQ(afterJump(3).lostFrames, 30u);
    EXPECT_EQ(afterJump(99).lostFrames, 990u);
    EXPECT_EQ(afterJump(99).unfilledFrames, 1998u - 990);
    // From 100 real frames, the allowance too: the whole gap.
    EXPECT_EQ(afterJump(100).lostFrames, 1998u);
    EXPECT_EQ(afterJump(100).unfilledFrames, 0u);
    EXPECT_EQ(ConcealmentLimit(99, rules), 990u);
    EXPECT_EQ(ConcealmentLimit(100, rules), 3000u);
    EXPECT_EQ(ConcealmentLimit(UINT64_MAX, rules), UINT64_MAX);
    // A stream on its own has the allowance from its first frame.
    EXPECT_EQ(BuildTimeline({Packet(1, 0), Packet(2, 240 * 1999)}).stats.lostFrames, 1998u);
    EXPECT_EQ(BuildTimeline({Packet(1, 0), Packet(2, 240 * 1999)}, rules).stats.lostFrames, 10u);
}

TEST(Timeline, EmptyStream)
{
    const Timeline t = BuildTimeline({});
    EXPECT_TRUE(t.entries.empty());
    EXPECT_EQ(t.stats.TimelineFrames(), 0u);
}

}  // namespace
}  // namespace mervox::media::timeline
