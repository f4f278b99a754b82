#include "timeline/arrival_anchors.h"

#include <cmath>

#include "timeline/stream_timeline.h"

namespace mervox::media::timeline {

void ArrivalAnchors::Frame(uint64_t packet, double arrival)
{
    if (!havePacket_ || packet != lastPacket_) {
        havePacket_ = true;
        lastPacket_ = packet;
        // Capture times are finite (they come from integers); bounded here
        // so that a capture whose clock jumps by years stays in range.
        const double offset = std::fmax(-1e12, std::fmin(1e12, (arrival - firstArrival_) * 8000.0));
        const auto arrived = static_cast<int64_t>(std::llround(offset));
        const StreamAnchor& last = anchors_.back();
        const int64_t placed = last.at + static_cast<int64_t>(samples_ - last.sample);
        const int64_t drift = placed - arrived;
        if (drift > kMaxDriftSamples || drift < -kMaxDriftSamples) {
            if (samples_ == 0)
                anchors_.front().at = arrived;  // the first frame came long after the first packet
            else if (anchors_.size() <= kMaxAnchors)
                anchors_.push_back({samples_, arrived});
        }
    }
    samples_ += kTicksPerFrame;
}

void ArrivalAnchors::Lost(uint64_t frames) { samples_ += frames * kTicksPerFrame; }

}  // namespace mervox::media::timeline
