// Where a stream's samples lie against the packets' arrival. A stream's
// decoded samples follow its RTP timeline; in a call's recording they are
// placed on capture time, starting at the stream's first packet. While the
// RTP timeline stays within kMaxDriftSamples of the arrivals it is kept as
// it is; where it drifts further (gaps left unfilled, a timestamp jump
// capped at 60 s, a sender clock running fast or slow) the stream is
// re-anchored: from that frame on, its samples lie where its packet arrived
// (silence before them where the stream fell behind; where it ran ahead,
// its earlier samples give way to them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mervox::media::timeline {

// 100 ms at 8 kHz: the most a stream's timeline may lie off its arrivals.
constexpr int64_t kMaxDriftSamples = 800;
// Re-anchorings a stream may record (16 bytes each); past them it keeps
// its last anchor, so that a hostile stream cannot grow the report.
constexpr size_t kMaxAnchors = 1024;

// From stream sample `sample` on, the stream's samples lie at `at` (and on):
// `at` counts samples of capture time from the stream's first packet.
struct StreamAnchor {
    uint64_t sample = 0;
    int64_t at = 0;
};

// Fed with the stream's timeline in order (a frame and the arrival of its
// packet, or a run of slots without a frame), keeps the anchors.
class ArrivalAnchors {
public:
    explicit ArrivalAnchors(double firstArrival) : firstArrival_(firstArrival) {}

    // One frame of the packet `packet` (its arrival order) that arrived at
    // `arrival` (capture seconds). The first placed frame of each packet is
    // held against its arrival.
    void Frame(uint64_t packet, double arrival);
    // `frames` slots without a frame (concealed).
    void Lost(uint64_t frames);

    // In order of `sample`, the first one at sample 0: at 0 (the first
    // packet's arrival), or where the packet of the stream's first frame
    // arrived when that was more than kMaxDriftSamples away (the packets
    // before it were dropped, or arrived out of order). Each further one is
    // a re-anchoring.
    const std::vector<StreamAnchor>& anchors() const { return anchors_; }
    uint64_t samples() const { return samples_; }

private:
    double firstArrival_;
    std::vector<StreamAnchor> anchors_{StreamAnchor{}};
    uint64_t samples_ = 0;
    bool havePacket_ = false;
    uint64_t lastPacket_ = 0;
};

}  // namespace mervox::media::timeline
