#include "quality/rtp_stats.h"

#include <algorithm>
#include <cmath>

#include "quality/saturating.h"

namespace mervox::media::quality {
namespace {

constexpr int kComfortNoise = 13;     // RFC 3389
constexpr int kOldComfortNoise = 19;  // reserved, once comfort noise

bool IsComfortNoise(int payloadType) { return payloadType == kComfortNoise || payloadType == kOldComfortNoise; }

// The timestamp lies at or after the first packet's, across the wrap (less
// than half the range ahead).
bool InTimeSequence(uint32_t first, uint32_t timestamp)
{
    if (first <= timestamp)
        return timestamp - first < 0x80000000u;
    return first - timestamp > 0x80000000u;
}

void Include(MinMeanMax& m, double value, uint64_t before, bool first)
{
    if (first || value < m.min)
        m.min = value;
    if (first || value > m.max)
        m.max = value;
    const double n = static_cast<double>(before);
    m.mean = (m.mean * (n - 1) + value) / n;
}

}  // namespace

double RtpStatistics::Milliseconds(int64_t ns) const
{
    // Whole seconds and the nanoseconds left, both toward zero.
    const int64_t relative = SaturatingSub(ns, referenceNs_);
    return static_cast<double>(relative / 1000000000) * 1000 + static_cast<double>(relative % 1000000000) / 1000000;
}

void RtpStatistics::NoteSeen(uint16_t sequence)
{
    if (stats_.packets == 0)
        highest_ = sequence;
    const int64_t extended =
        highest_ + static_cast<int16_t>(static_cast<uint16_t>(sequence - static_cast<uint16_t>(highest_)));
    // Bit s of the history: the numbers kHistory apart share one.
    auto place = [](int64_t s) { return static_cast<uint64_t>(((s % kHistory) + kHistory) % kHistory); };
    auto bit = [&](int64_t s) -> uint64_t& { return seen_[place(s) / 64]; };
    auto mask = [&](int64_t s) { return uint64_t{1} << (place(s) % 64); };
    if (extended > highest_) {
        for (int64_t s = std::max(highest_ + 1, extended - kHistory + 1); s <= extended; ++s)
            bit(s) &= ~mask(s);
        highest_ = extended;
    } else if (extended <= highest_ - kHistory) {
        ++stats_.outOfOrder;
        return;
    } else if (bit(extended) & mask(extended)) {
        ++stats_.duplicates;
        return;
    } else if (extended < highest_) {
        ++stats_.outOfOrder;
    }
    bit(extended) |= mask(extended);
}

void RtpStatistics::CountSequence(uint16_t sequence, bool inTimeSequence)
{
    // Wraps of the sequence number: one counted when a number below the
    // first one arrives (or 0 after 65535), cleared once past the first again.
    if (sequence < startSequence_ && inTimeSequence && !under_) {
        ++cycles_;
        under_ = true;
    } else if (sequence == 0 && stopSequence_ == 65535 && inTimeSequence && !under_) {
        ++cycles_;
        under_ = true;
    } else if (sequence > startSequence_ && inTimeSequence && under_) {
        under_ = false;
    }
    // Sequence errors: anything but the number after the last in-order one.
    const uint32_t s = sequence;
    if (lastInOrder_ + 1 == s || (lastInOrder_ == 65535 && s == 0)) {
        lastInOrder_ = s;
    } else if (lastInOrder_ + 1 < s || lastInOrder_ - s > 0xff00) {
        lastInOrder_ = s;  // a loss (or a wrap whose packets were lost)
        ++stats_.sequenceErrors;
    } else {
        ++stats_.sequenceErrors;  // late or repeated
    }
}

void RtpStatistics::FitClock(double arrivalMs, double rtpMs)
{
    if (fitCount_ == 0)
        firstArrivalMs_ = arrivalMs;
    lastArrivalMs_ = arrivalMs;
    const double t = arrivalMs - firstArrivalMs_;
    ++fitCount_;
    sumT_ += t;
    sumR_ += rtpMs;
    sumTT_ += t * t;
    sumTR_ += t * rtpMs;
}

void RtpStatistics::Add(const RtpArrival& p)
{
    const double now = Milliseconds(p.arrivalNs);
    NoteSeen(p.sequence);
    if (first_) {
        first_ = false;
        startSequence_ = stopSequence_ = p.sequence;
        lastInOrder_ = p.sequence;
        firstTimestamp_ = lastTimestamp_ = p.timestamp;
        extendedTimestamp_ = p.timestamp;
        time_ = now;
        lastNominal_ = 0;
        lastPayloadType_ = p.payloadType;
        stats_.packets = 1;
        if (p.clockRate > 0)
            FitClock(now, 0);
        return;
    }

    const bool inTime = InTimeSequence(firstTimestamp_, p.timestamp);
    CountSequence(p.sequence, inTime);
    const bool comfortNoise = IsComfortNoise(p.payloadType);
    const bool afterComfortNoise = IsComfortNoise(lastPayloadType_);
    lastPayloadType_ = p.payloadType;

    double jitter = 0;
    if (inTime) {
        extendedTimestamp_ += static_cast<int32_t>(p.timestamp - static_cast<uint32_t>(extendedTimestamp_));
        if (p.clockRate > 0) {
            const int perMs = p.clockRate / 1000 > 0 ? p.clockRate / 1000 : 1;
            const double nominal =
                static_cast<double>(extendedTimestamp_ - static_cast<int64_t>(firstTimestamp_)) / perMs;
            const double expectedTime = time_ + (nominal - lastNominal_);
            const double difference = std::fabs(now - expectedTime);
            jitter = (15 * jitter_ + difference) / 16;
            jitter_ = jitter;
            lastNominal_ = nominal;
            FitClock(now, nominal);
        }
        delta_ = now - time_;
        time_ = now;
    }
    // Packets that start a talkspurt, or follow comfort noise, have a gap
    // before them by design: they count in no minimum, mean or maximum.
    const bool regular = inTime && !p.marker && !comfortNoise && !afterComfortNoise;
    if (regular) {
        Include(stats_.deltaMs, delta_, stats_.packets, !haveDelta_);
        haveDelta_ = true;
        if (p.clockRate > 0) {
            Include(stats_.jitterMs, jitter, stats_.packets, !haveJitter_);
            haveJitter_ = true;
        }
    }
    lastTimestamp_ = p.timestamp;
    stopSequence_ = p.sequence;
    ++stats_.packets;
}

RtpStats RtpStatistics::Result() const
{
    RtpStats r = stats_;
    if (r.packets == 0)
        return r;
    r.expected = static_cast<uint64_t>(stopSequence_) + static_cast<uint64_t>(cycles_) * 65536 - startSequence_ + 1;
    r.lost = static_cast<int64_t>(r.expected) - static_cast<int64_t>(r.packets);
    r.lastJitterMs = jitter_;
    const double n = static_cast<double>(fitCount_);
    const double denominator = n * sumTT_ - sumT_ * sumT_;
    if (fitCount_ >= 2 && denominator > 0) {
        const double slope = (n * sumTR_ - sumT_ * sumR_) / denominator;
        r.clockDriftPpm = (slope - 1) * 1e6;
        r.clockDriftMs = (slope - 1) * (lastArrivalMs_ - firstArrivalMs_);
    }
    return r;
}

}  // namespace mervox::media::quality
