// The figures of an RTP stream as it arrived, with the definitions of RFC
// 3550 (A.3 loss, A.8 interarrival jitter) in the form Wireshark's RTP
// stream analysis computes them, so that packets, lost and the delta and
// jitter figures agree with `tshark -z rtp,streams` on the same capture:
//
// - times are capture times in milliseconds from a reference (the
//   capture's first record) as doubles formed from whole nanoseconds;
// - expected = last sequence number + 65536 per wrap - first + 1 (the wrap
//   counted when a sequence number below the first arrives with a
//   timestamp after the first one); lost = expected - packets, negative
//   where duplicates outnumber losses;
// - delta: arrival time since the packet before (any packet of the stream);
// - jitter: J += (|D| - J) / 16, D the difference of arrival and RTP time
//   (timestamp / clock rate) from the packet before; packets without a
//   clock (telephone events) leave it as it is;
// - min, mean and max over the "regular" packets: not the first, not one
//   with the marker bit, not comfort noise (payload types 13 and 19) nor
//   the packet after it; the mean is updated as
//   mean = (mean * (n - 1) + x) / n with n the packets before this one;
// - a packet whose timestamp lies before the first packet's (half the
//   timestamp range back) is counted and takes no part in the times.
#pragma once

#include <array>
#include <cstdint>

namespace mervox::media::quality {

// One packet of the stream, in arrival order.
struct RtpArrival {
    int64_t arrivalNs = 0;  // capture time, nanoseconds
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    bool marker = false;
    int payloadType = 0;
    int clockRate = 8000;  // 0: its timestamps do not advance with time (RFC 4733 telephone events)
};

struct MinMeanMax {
    double min = 0;
    double mean = 0;
    double max = 0;
};

struct RtpStats {
    uint64_t packets = 0;         // every packet, duplicates included
    uint64_t expected = 0;        // from the first to the last packet's sequence number
    int64_t lost = 0;             // expected - packets
    uint64_t sequenceErrors = 0;  // a sequence number other than the one after the packet before
    uint64_t duplicates = 0;      // a sequence number received before (among the last 1024)
    uint64_t outOfOrder = 0;      // arrived after a packet with a later sequence number
    MinMeanMax deltaMs;
    MinMeanMax jitterMs;
    double lastJitterMs = 0;  // the interarrival jitter at the end (as a receiver report states it)
    // RTP clock against capture time, from a least-squares line through the
    // packets' RTP times and arrivals: how much the RTP clock gained over
    // the stream (negative: lost), in ms and in parts per million.
    double clockDriftMs = 0;
    double clockDriftPpm = 0;
};

class RtpStatistics {
public:
    // Times are taken relative to `referenceNs` (the capture's first record).
    explicit RtpStatistics(int64_t referenceNs = 0) : referenceNs_(referenceNs) {}
    void Add(const RtpArrival& packet);
    RtpStats Result() const;
    uint64_t duplicates() const { return stats_.duplicates; }

private:
    double Milliseconds(int64_t ns) const;
    void CountSequence(uint16_t sequence, bool inTimeSequence);
    void NoteSeen(uint16_t sequence);
    void FitClock(double arrivalMs, double rtpMs);

    int64_t referenceNs_;
    RtpStats stats_;
    bool first_ = true;
    // Sequence numbers.
    uint16_t startSequence_ = 0;
    uint16_t stopSequence_ = 0;
    uint32_t lastInOrder_ = 0;  // Wireshark's seq_num
    uint32_t cycles_ = 0;
    bool under_ = false;
    int64_t highest_ = 0;  // extended, for duplicates and order
    static constexpr int64_t kHistory = 1024;
    std::array<uint64_t, kHistory / 64> seen_{};
    // Times.
    uint32_t firstTimestamp_ = 0;
    uint32_t lastTimestamp_ = 0;
    int64_t extendedTimestamp_ = 0;  // unwrapped, of the last packet in time sequence
    double time_ = 0;                // arrival of the packet before, ms
    double lastNominal_ = 0;         // its RTP time, ms from the first packet's
    double delta_ = 0;
    double jitter_ = 0;
    int lastPayloadType_ = -1;
    bool haveDelta_ = false;
    bool haveJitter_ = false;
    // Least squares of RTP time on arrival time, both from the first packet.
    uint64_t fitCount_ = 0;
    double sumT_ = 0, sumR_ = 0, sumTT_ = 0, sumTR_ = 0;
    double firstArrivalMs_ = 0, lastArrivalMs_ = 0;
};

}  // namespace mervox::media::quality
