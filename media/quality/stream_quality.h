// How well a G.723.1 stream was heard: its RTP figures as it arrived
// (rtp_stats.h), the packets a modelled receiver with a fixed 60 ms jitter
// buffer had to do without (jitter_buffer.h), and from those a listening
// quality estimate by the E-model (emodel.h) with G.723.1's own
// impairments. One or several streams (of one direction of a call) give
// one estimate.
#pragma once

#include <cstdint>
#include <vector>

#include "quality/emodel.h"
#include "quality/jitter_buffer.h"
#include "quality/rtp_stats.h"
#include "quality/stream_series.h"

namespace mervox::media::quality {

// G.723.1 in the E-model (ITU-T G.113 Appendix I): equipment impairment at
// each rate, and the packet-loss robustness published for 6.3 kbit/s, used
// for 5.3 kbit/s too (same frames, same concealment of lost ones).
constexpr double kIe6300 = 15;
constexpr double kIe5300 = 19;
constexpr double kBplG7231 = 16.1;
// Delay of the codec: the frame, and the encoder's look-ahead.
constexpr double kFrameMs = 30;
constexpr double kLookAheadMs = 7.5;

struct StreamQuality {
    RtpStats rtp;
    JitterBufferResult buffer;
    uint64_t audioPackets = 0;  // G.723.1 packets, duplicates left out
    uint64_t audioFrames = 0;   // their frames, of any type
    uint64_t frames6300 = 0;    // speech frames at each rate
    uint64_t frames5300 = 0;
    // Packets, jitter and losses over capture time (stream_series.h); empty
    // unless the meter was asked to keep them.
    StreamSeries arrivals;
};

class StreamQualityMeter {
public:
    // Times count from `referenceNs` (the capture's first record).
    explicit StreamQualityMeter(int64_t referenceNs = 0, int64_t bufferNs = kDefaultBufferNs);
    // A G.723.1 packet, with its frames by type.
    void Audio(const RtpArrival& packet, uint64_t frames, uint64_t frames6300, uint64_t frames5300);
    // A packet of the call's other payload types on the stream (telephone
    // events, comfort noise): received, no audio to time.
    void Other(const RtpArrival& packet);
    StreamQuality Finish();
    // Keep the arrivals over time too (from the first packet given on).
    void KeepSeries() { keepSeries_ = true; }

private:
    void Series(const RtpArrival& packet);

    RtpStatistics rtp_;
    bool keepSeries_ = false;
    bool haveFirst_ = false;
    int64_t firstNs_ = 0;
    FixedJitterBuffer buffer_;
    StreamQuality quality_;
};

struct ListeningQuality {
    double equipmentImpairment = kIe6300;  // Ie, by the speech frames' rates
    double lossRobustness = kBplG7231;     // Bpl
    double lossPercent = 0;                // Ppl, after the jitter buffer
    double burstRatio = 1;                 // BurstR
    double p = 0, q = 0;                   // of the two-state model
    double framesPerPacket = 1;
    double delayMs = 0;  // buffer + frame + look-ahead + packetization (further frames of a packet)
    uint64_t late = 0;   // packets too late for the buffer
    EModelResult model;
};

// The estimate for the listener of one or more streams taken together
// (their losses and transitions summed, Ie weighted by speech frames).
ListeningQuality EstimateListening(const std::vector<const StreamQuality*>& streams);

}  // namespace mervox::media::quality
