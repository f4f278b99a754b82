#include "quality/stream_quality.h"

#include "quality/saturating.h"

namespace mervox::media::quality {

StreamQualityMeter::StreamQualityMeter(int64_t referenceNs, int64_t bufferNs) : rtp_(referenceNs), buffer_(bufferNs) {}

void StreamQualityMeter::Audio(const RtpArrival& packet, uint64_t frames, uint64_t frames6300, uint64_t frames5300)
{
    const uint64_t duplicates = rtp_.duplicates();
    rtp_.Add(packet);
    buffer_.Add(packet.arrivalNs, packet.sequence, packet.timestamp, true);
    Series(packet);
    if (rtp_.duplicates() != duplicates)
        return;
    ++quality_.audioPackets;
    quality_.audioFrames += frames;
    quality_.frames6300 += frames6300;
    quality_.frames5300 += frames5300;
}

void StreamQualityMeter::Other(const RtpArrival& packet)
{
    rtp_.Add(packet);
    buffer_.Add(packet.arrivalNs, packet.sequence, packet.timestamp, false);
    Series(packet);
}

void StreamQualityMeter::Series(const RtpArrival& packet)
{
    if (!keepSeries_)
        return;
    if (!haveFirst_) {
        haveFirst_ = true;
        firstNs_ = packet.arrivalNs;
    }
    const RtpStats now = rtp_.Result();
    // Capture times far apart (a damaged record) must not overflow.
    quality_.arrivals.Arrival(SaturatingSub(packet.arrivalNs, firstNs_), now.lastJitterMs, now.lost);
}

StreamQuality StreamQualityMeter::Finish()
{
    quality_.rtp = rtp_.Result();
    quality_.buffer = buffer_.Finish();
    return quality_;
}

ListeningQuality EstimateListening(const std::vector<const StreamQuality*>& streams)
{
    ListeningQuality out;
    LossTransitions loss;
    uint64_t frames6300 = 0, frames5300 = 0, packets = 0, frames = 0;
    double bufferMs = static_cast<double>(kDefaultBufferNs) / 1e6;
    for (const StreamQuality* s : streams) {
        loss.Add(s->buffer.loss);
        out.late += s->buffer.late;
        frames6300 += s->frames6300;
        frames5300 += s->frames5300;
        packets += s->audioPackets;
        frames += s->audioFrames;
        bufferMs = static_cast<double>(s->buffer.bufferNs) / 1e6;
    }
    if (frames6300 + frames5300 > 0)
        out.equipmentImpairment =
            (kIe6300 * static_cast<double>(frames6300) + kIe5300 * static_cast<double>(frames5300)) /
            static_cast<double>(frames6300 + frames5300);
    out.lossPercent = loss.LossPercent();
    out.burstRatio = loss.BurstRatio();
    out.p = loss.P();
    out.q = loss.Q();
    if (packets > 0)
        out.framesPerPacket = static_cast<double>(frames) / static_cast<double>(packets);
    out.delayMs = bufferMs + kFrameMs + kLookAheadMs + (out.framesPerPacket - 1) * kFrameMs;

    EModelParameters p;
    p.equipmentImpairment = out.equipmentImpairment;
    p.lossRobustness = out.lossRobustness;
    p.lossPercent = out.lossPercent;
    p.burstRatio = out.burstRatio;
    p.meanDelayMs = out.delayMs;
    p.absoluteDelayMs = out.delayMs;
    p.roundTripDelayMs = 2 * out.delayMs;
    out.model = RateConnection(p);
    return out;
}

}  // namespace mervox::media::quality
