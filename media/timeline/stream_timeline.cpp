#include "timeline/stream_timeline.h"

#include <algorithm>
#include <cmath>

namespace mervox::media::timeline {
namespace {

// Difference of two 16-bit sequence numbers, the short way round.
int64_t SequenceDelta(uint16_t to, uint16_t from) { return static_cast<int16_t>(static_cast<uint16_t>(to - from)); }

// Difference of two 32-bit RTP timestamps, the short way round.
int64_t TimestampDelta(uint32_t to, uint32_t from) { return static_cast<int32_t>(to - from); }

int64_t FramesIn(const StreamPacket& p) { return std::max<int64_t>(1, static_cast<int64_t>(p.frames.size())); }

}  // namespace

TimelineBuilder::TimelineBuilder(TimelineOutput& output, TimelineRules rules) : output_(output), rules_(rules) {}

void TimelineBuilder::Add(StreamPacket p)
{
    ++stats_.packets;
    p.index = nextIndex_++;
    if (p.index == 0)
        firstArrival_ = latestArrival_ = p.arrival;
    latestArrival_ = std::max(latestArrival_, p.arrival);

    if (!haveSequence_) {
        haveSequence_ = true;
        highest_ = p.sequence;
        window_.emplace(highest_, std::move(p));
        return;
    }
    const int64_t delta = SequenceDelta(p.sequence, static_cast<uint16_t>(highest_));
    if (delta > kSequenceJump || delta < -kSequenceJump) {
        if (IsLateForPreviousRun(p.sequence)) {
            ++stats_.late;
            return;
        }
        // A renumbered sender: what came before is complete; this run is
        // ordered on its own, after it.
        Flush();
        havePreviousRun_ = true;
        previousRunHighest_ = static_cast<uint16_t>(highest_);
        ++stats_.sequenceRuns;
        runStart_ = true;
        highest_ += static_cast<uint16_t>(p.sequence - static_cast<uint16_t>(highest_));
        window_.emplace(highest_, std::move(p));
        return;
    }
    const int64_t sequence = highest_ + delta;
    if (haveReleased_ && sequence <= released_) {
        ++(WasReleased(sequence) ? stats_.duplicates : stats_.late);
        return;
    }
    if (window_.count(sequence)) {
        ++stats_.duplicates;
        return;
    }
    if (sequence < highest_)
        ++stats_.reordered;
    highest_ = std::max(highest_, sequence);
    window_.emplace(sequence, std::move(p));
    while (!window_.empty() && highest_ - window_.begin()->first >= kReorderWindow)
        ReleaseFirst();
}

void TimelineBuilder::Finish() { Flush(); }

void TimelineBuilder::Flush()
{
    while (!window_.empty())
        ReleaseFirst();
}

bool TimelineBuilder::IsLateForPreviousRun(uint16_t sequence) const
{
    if (!havePreviousRun_)
        return false;
    const int64_t behind = SequenceDelta(sequence, previousRunHighest_);
    return behind <= 0 && behind >= -kSequenceJump;
}

void TimelineBuilder::MarkReleased(int64_t sequence)
{
    // Sequence numbers between the last released one and this one were never
    // released: clear their bits (all of them after a long jump).
    const int64_t from = haveReleased_ ? std::max(released_ + 1, sequence - kHistory + 1) : sequence - kHistory + 1;
    for (int64_t s = from; s < sequence; ++s) {
        const auto bit = static_cast<uint64_t>(s) % kHistory;
        releasedBits_[bit / 64] &= ~(uint64_t{1} << (bit % 64));
    }
    const auto bit = static_cast<uint64_t>(sequence) % kHistory;
    releasedBits_[bit / 64] |= uint64_t{1} << (bit % 64);
    released_ = sequence;
    haveReleased_ = true;
}

bool TimelineBuilder::WasReleased(int64_t sequence) const
{
    if (!haveReleased_ || sequence > released_ || sequence <= released_ - kHistory)
        return false;
    const auto bit = static_cast<uint64_t>(sequence) % kHistory;
    return (releasedBits_[bit / 64] >> (bit % 64)) & 1;
}

void TimelineBuilder::ReleaseFirst()
{
    auto first = window_.begin();
    const auto second = std::next(first);
    const bool haveNext = second != window_.end();
    Place(first->second, first->first, haveNext ? &second->second : nullptr, haveNext ? second->first : 0);
    MarkReleased(first->first);
    window_.erase(first);
}

uint64_t TimelineBuilder::ConcealmentBudget() const
{
    const uint64_t real = stats_.speechFrames + stats_.descriptorFrames;
    // Until the stream has proved real, its own frames pay for every lost
    // one (whatever the capture times say).
    if (real < rules_.realFramesForAllowance)
        return real * kConcealPerRealFrame;
    const double span = (latestArrival_ - firstArrival_) * 1000.0 / 30.0;
    // Capture times are the capture's own word: bounded, and NaN-free as
    // they come from integers.
    const uint64_t spanFrames = span > 0 ? static_cast<uint64_t>(std::min(span, 1e15)) : 0;
    const uint64_t byFrames = real > UINT64_MAX / kConcealPerRealFrame ? UINT64_MAX : real * kConcealPerRealFrame;
    return std::min(byFrames, spanFrames) + kConcealAllowance;
}

void TimelineBuilder::Place(const StreamPacket& p, int64_t sequence, const StreamPacket* next, int64_t nextSequence)
{
    if (p.payloadCutShort)
        ++stats_.cutShortPayloads;
    int64_t timestamp = RepairedTimestamp(p, sequence, next, nextSequence) + shift_;
    if (!started_ && !p.frames.empty()) {
        started_ = true;
        next_ = timestamp;
    }
    for (size_t k = 0; k < p.frames.size(); ++k) {
        int64_t at = timestamp + kTicksPerFrame * static_cast<int64_t>(k);
        if (at < next_ - kMaxGapFrames * kTicksPerFrame) {
            // The clock went far back: carry on from here, this frame next.
            ++stats_.timestampJumps;
            shift_ += next_ - at;
            timestamp += next_ - at;
            at = next_;
        }
        // Whole frames between where we are and this frame, to the nearest frame.
        const int64_t offset = at - next_ + kTicksPerFrame / 2;
        const int64_t gap = offset >= 0 ? offset / kTicksPerFrame : -1;
        if (gap < 0) {
            ++stats_.overlapping;
            continue;
        }
        if (gap > 0)
            FillGap(gap);
        LayOut(p, p.frames[k]);
        next_ = at + kTicksPerFrame;
    }
}

int64_t TimelineBuilder::RepairedTimestamp(const StreamPacket& p, int64_t sequence, const StreamPacket* next,
                                           int64_t nextSequence)
{
    // Extend the timestamp across wraps at 2^32, relative to the packet before.
    int64_t raw = havePlaced_ ? lastRaw_ + TimestampDelta(p.timestamp, static_cast<uint32_t>(lastRaw_)) : p.timestamp;

    // A single packet far off the time its neighbours give it (a corrupted or
    // foreign timestamp) goes where its sequence number puts it. Silence
    // sent as no packets moves the timeline forward for good, so only a
    // jump that the next packet undoes counts.
    if (next) {
        const int64_t behind =
            TimestampDelta(next->timestamp, p.timestamp) - (nextSequence - sequence) * FramesIn(p) * kTicksPerFrame;
        bool stray = false;
        int64_t placed = 0;
        if (havePlaced_ && !runStart_) {
            const int64_t expected = (sequence - lastSequence_) * lastFrames_ * kTicksPerFrame;
            const int64_t ahead = (raw - lastRaw_) - expected;
            stray = (ahead > kStrayTicks && behind < -kStrayTicks) || (ahead < -kStrayTicks && behind > kStrayTicks);
            placed = lastRaw_ + expected;
        } else {
            // The first packet of a run has only the next one to go by.
            stray = behind < -kStrayTicks;
            placed = raw + behind;
        }
        if (stray) {
            ++stats_.strayTimestamps;
            raw = placed;
        }
    }
    havePlaced_ = true;
    runStart_ = false;
    lastRaw_ = raw;
    lastSequence_ = sequence;
    lastFrames_ = FramesIn(p);
    return raw;
}

// `gap` missing frames before the next one: concealed, as far as the
// concealment limit allows (the rest is left out and counted).
void TimelineBuilder::FillGap(int64_t gap)
{
    auto run = static_cast<uint64_t>(std::min(gap, kMaxGapFrames));
    if (gap > kMaxGapFrames)
        ++stats_.timestampJumps;
    if (rules_.limitConcealment) {
        const uint64_t budget = ConcealmentBudget();
        const uint64_t room = budget > stats_.lostFrames ? budget - stats_.lostFrames : 0;
        if (run > room) {
            stats_.unfilledFrames += run - room;
            run = room;
        }
    }
    if (run > 0) {
        output_.Lost(run);
        stats_.lostFrames += run;
    }
}

void TimelineBuilder::LayOut(const StreamPacket& p, const packets::FrameSlice& f)
{
    output_.Frame(p, f);
    ++stats_.frames;
    if (stream::IsSpeech(f.type)) {
        ++stats_.speechFrames;
        if (stream::IsRateSwitch(lastSpeechType_, f.type))
            ++stats_.rateSwitches;
    } else {
        ++stats_.silenceFrames;
        if (f.type == stream::FrameType::kSilenceDescriptor)
            ++stats_.descriptorFrames;
    }
}

namespace {

class EntryCollector : public TimelineOutput {
public:
    explicit EntryCollector(std::vector<TimelineEntry>& entries) : entries_(entries) {}
    void Frame(const StreamPacket& packet, const packets::FrameSlice& frame) override
    {
        entries_.push_back({packet.index, frame.offset, frame.type, 0});
    }
    void Lost(uint64_t frames) override { entries_.push_back({0, 0, stream::FrameType::kUntransmitted, frames}); }

private:
    std::vector<TimelineEntry>& entries_;
};

}  // namespace

Timeline BuildTimeline(const std::vector<StreamPacket>& packets, TimelineRules rules)
{
    Timeline t;
    EntryCollector collector(t.entries);
    TimelineBuilder builder(collector, rules);
    for (const StreamPacket& p : packets)
        builder.Add(p);
    builder.Finish();
    t.stats = builder.stats();
    return t;
}

}  // namespace mervox::media::timeline
