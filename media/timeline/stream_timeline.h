// Puts the packets of one RTP stream in order and lays their frames on the
// call's timeline, as the packets arrive: a bounded reordering window by
// sequence number, then each frame at its RTP timestamp, missing stretches as
// runs of lost frames. Memory stays within the window whatever the stream's
// length.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "packets/g7231_payload.h"
#include "quality/jitter_buffer.h"
#include "stream/stream_stats.h"

namespace mervox::media::timeline {

// One captured packet of the stream.
struct StreamPacket {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    double arrival = 0;            // capture time, seconds
    uint64_t index = 0;            // arrival order within the stream (set by TimelineBuilder::Add)
    bool payloadCutShort = false;  // last frame incomplete (the others are kept)
    std::vector<uint8_t> payload;
    std::vector<packets::FrameSlice> frames;
};

struct TimelineStats {
    uint64_t packets = 0;           // captured, duplicates and late ones included
    uint64_t duplicates = 0;        // same sequence number seen before: dropped
    uint64_t reordered = 0;         // arrived after a packet with a later sequence number, put in place
    uint64_t late = 0;              // arrived after the reordering window had passed them: dropped
    uint64_t frames = 0;            // frames placed on the timeline
    uint64_t speechFrames = 0;      // 6.3 and 5.3 kbit/s frames among them
    uint64_t silenceFrames = 0;     // silence-descriptor and untransmitted frames (concealed)
    uint64_t descriptorFrames = 0;  // silence descriptors among them
    uint64_t lostFrames = 0;        // missing from the timeline (concealed)
    uint64_t overlapping = 0;       // frames whose time was already taken: dropped
    uint64_t timestampJumps = 0;    // jumps beyond kMaxGapFrames either way
    uint64_t strayTimestamps = 0;   // packets placed by sequence number, their timestamp being off
    uint64_t sequenceRuns = 0;      // sequence-number jumps that started a new run
    uint64_t unfilledFrames = 0;    // missing frames left out by the concealment limit
    uint64_t cutShortPayloads = 0;
    uint64_t rateSwitches = 0;  // speech frame at another rate than the speech frame before it
    uint64_t TimelineFrames() const { return frames + lostFrames; }
    double DurationSeconds() const { return stream::FramesToSeconds(TimelineFrames()); }
};

// RTP timestamp units (8 kHz samples) per 30 ms frame.
constexpr int64_t kTicksPerFrame = 240;
// Timestamp jumps beyond this many frames (60 s) are taken as a damaged or
// restarted clock rather than real time: a jump forward gives this many
// lost frames, not hours of them; a jump back goes on right after the
// frame before instead of dropping the rest of the call as overlapping.
constexpr int64_t kMaxGapFrames = 2000;
// Reordering window, in sequence numbers: a packet leaves the window (and is
// laid out) once one this many sequence numbers after it has arrived; a
// packet that arrives after a later one has left is dropped as late. Far
// more than network reordering needs (about 2 s of packets).
constexpr int64_t kReorderWindow = 64;
// A sequence number further than this from the newest one either way is no
// reordering or loss but a renumbered sender: it starts a new run (the same
// threshold as the loss figures' runs).
constexpr int64_t kSequenceJump = quality::kSequenceJump;
// A packet whose timestamp is this much further ahead of (or behind) both
// neighbours than their sequence distance implies is placed by its sequence
// number instead (1 s).
constexpr int64_t kStrayTicks = 8000;
// The concealment a stream may receive in all: kConcealAllowance, plus the
// smaller of kConcealPerRealFrame per real frame (speech or silence
// descriptor) and the capture time the stream has spanned so far. In a
// capture (CaptureOptions), where one file may hold thousands of streams,
// a stream must also prove real before it gets the allowance: until it has
// kRealFramesForAllowance real frames, it receives at most
// kConcealPerRealFrame lost frames per real frame, whatever the capture
// times say. Then no stream receives more than ConcealmentLimit() of its
// real frames, and a whole capture no more than
// kCaptureConcealPerRealFrame lost frames per real frame it holds, however
// many streams it has. Each stream's limit is its own: what other streams
// receive changes nothing in it.
constexpr uint64_t kConcealAllowance = static_cast<uint64_t>(kMaxGapFrames);
constexpr uint64_t kConcealPerRealFrame = 10;
constexpr uint64_t kRealFramesForAllowance = 100;
constexpr uint64_t kCaptureConcealPerRealFrame = kConcealPerRealFrame + kConcealAllowance / kRealFramesForAllowance;

struct TimelineRules {
    bool limitConcealment = true;  // false: every gap is filled (each still at most kMaxGapFrames)
    // Real frames a stream needs before it gets kConcealAllowance; 0: from
    // the start (a stream on its own). Captures ask for kRealFramesForAllowance.
    uint64_t realFramesForAllowance = 0;
};

// The most lost frames a stream with `realFrames` real frames can receive
// under `rules`' limit, whatever its capture times.
constexpr uint64_t ConcealmentLimit(uint64_t realFrames, const TimelineRules& rules)
{
    const uint64_t most = (UINT64_MAX - kConcealAllowance) / kConcealPerRealFrame;
    if (!rules.limitConcealment || realFrames > most)
        return UINT64_MAX;
    return realFrames * kConcealPerRealFrame + (realFrames >= rules.realFramesForAllowance ? kConcealAllowance : 0);
}

// Receives the timeline in order.
class TimelineOutput {
public:
    virtual ~TimelineOutput() = default;
    virtual void Frame(const StreamPacket& packet, const packets::FrameSlice& frame) = 0;
    virtual void Lost(uint64_t frames) = 0;
};

class TimelineBuilder {
public:
    explicit TimelineBuilder(TimelineOutput& output, TimelineRules rules = {});

    // The next packet in arrival order.
    void Add(StreamPacket packet);
    // Lays out what is still in the window; call once, after the last packet.
    void Finish();

    const TimelineStats& stats() const { return stats_; }
    // The most concealed frames the stream may have received by now.
    uint64_t ConcealmentBudget() const;

private:
    void ReleaseFirst();
    void Flush();
    // Lays a released packet's frames on the timeline: its timestamp
    // repaired, the gap before each frame filled, each frame counted.
    void Place(const StreamPacket& p, int64_t sequence, const StreamPacket* next, int64_t nextSequence);
    int64_t RepairedTimestamp(const StreamPacket& p, int64_t sequence, const StreamPacket* next, int64_t nextSequence);
    void FillGap(int64_t gap);
    void LayOut(const StreamPacket& p, const packets::FrameSlice& f);
    bool IsLateForPreviousRun(uint16_t sequence) const;
    void MarkReleased(int64_t sequence);
    bool WasReleased(int64_t sequence) const;

    TimelineOutput& output_;
    TimelineRules rules_;
    TimelineStats stats_;
    uint64_t nextIndex_ = 0;
    double firstArrival_ = 0;
    double latestArrival_ = 0;

    // Ordering, by sequence number extended past the wrap at 65536.
    std::map<int64_t, StreamPacket> window_;
    bool haveSequence_ = false;
    int64_t highest_ = 0;
    bool haveReleased_ = false;
    int64_t released_ = 0;                     // the last released sequence number
    static constexpr int64_t kHistory = 1024;  // released sequence numbers remembered (duplicates)
    std::array<uint64_t, kHistory / 64> releasedBits_{};
    bool havePreviousRun_ = false;
    uint16_t previousRunHighest_ = 0;

    // Placement.
    bool havePlaced_ = false;
    bool runStart_ = true;  // the next packet placed is the first of its sequence run
    int64_t lastRaw_ = 0;   // extended timestamp of the last placed packet (before shift_)
    int64_t lastSequence_ = 0;
    int64_t lastFrames_ = 1;   // frames in it (at least 1)
    bool started_ = false;     // a frame has been placed
    int64_t next_ = 0;         // timestamp where the next frame belongs
    int64_t shift_ = 0;        // added to timestamps after a jump back
    int lastSpeechType_ = -1;  // for rate switches
};

// The whole timeline at once, for tests and small tools: every packet in
// arrival order in, entries out.
struct TimelineEntry {
    uint64_t packet = 0;  // index into the packets (frames only)
    uint16_t offset = 0;  // frame start within that packet's payload
    stream::FrameType type = stream::FrameType::kUntransmitted;
    uint64_t lostFrames = 0;  // nonzero: a run of this many missing frames
};

struct Timeline {
    std::vector<TimelineEntry> entries;
    TimelineStats stats;
};

Timeline BuildTimeline(const std::vector<StreamPacket>& packets, TimelineRules rules = {});

}  // namespace mervox::media::timeline
