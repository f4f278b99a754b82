// Puts the packets of one RTP stream in order and lays their frames on the
// call's timeline. Pure functions over plain records: the packets go in in
// arrival order, the timeline and its statistics come out.
#pragma once

#include <cstdint>
#include <vector>

#include "g7231_payload.h"

namespace mervox::capture {

// One captured packet of the stream, as it arrived.
struct StreamPacket {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    bool payloadCutShort = false;  // last frame incomplete (the others are kept)
    std::vector<uint8_t> payload;
    std::vector<FrameSlice> frames;
};

// Either one received frame or a run of missing ones.
struct TimelineEntry {
    uint32_t packet = 0;  // index into the stream's packets (frames only)
    uint16_t offset = 0;  // frame start within that packet's payload
    FrameType type = FrameType::kUntransmitted;
    uint32_t lostFrames = 0;  // nonzero: a run of this many missing frames
};

struct TimelineStats {
    uint64_t packets = 0;         // captured, duplicates included
    uint64_t duplicates = 0;      // same sequence number seen before: dropped
    uint64_t reordered = 0;       // arrived after a packet with a later sequence number
    uint64_t frames = 0;          // frames placed on the timeline
    uint64_t speechFrames = 0;    // 6.3 and 5.3 kbit/s frames among them
    uint64_t silenceFrames = 0;   // silence-descriptor and untransmitted frames (concealed)
    uint64_t lostFrames = 0;      // missing from the timeline (concealed)
    uint64_t overlapping = 0;     // frames whose time was already taken: dropped
    uint64_t timestampJumps = 0;  // jumps beyond kMaxGapFrames either way (see BuildTimeline)
    uint64_t cutShortPayloads = 0;
    uint64_t rateSwitches = 0;  // speech frame at another rate than the speech frame before it
    uint64_t TimelineFrames() const { return frames + lostFrames; }
    double DurationSeconds() const { return static_cast<double>(TimelineFrames() * 30) / 1000.0; }
};

struct Timeline {
    std::vector<TimelineEntry> entries;
    TimelineStats stats;
};

// RTP timestamp units (8 kHz samples) per 30 ms frame.
constexpr int64_t kTicksPerFrame = 240;
// Timestamp jumps beyond this many frames (60 s) are taken as a damaged or
// restarted clock rather than real time: a jump forward gives this many
// lost frames, not hours of them; a jump back goes on right after the
// frame before instead of dropping the rest of the call as overlapping.
constexpr int64_t kMaxGapFrames = 2000;

// Extended sequence numbers (no wrap at 65536) of packets in arrival order:
// each is taken nearest to the highest one seen before it.
std::vector<int64_t> ExtendSequenceNumbers(const std::vector<StreamPacket>& packets);

Timeline BuildTimeline(const std::vector<StreamPacket>& packets);

}  // namespace mervox::capture
