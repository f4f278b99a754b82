#include "quality/stream_series.h"

#include <algorithm>
#include <cmath>

namespace mervox::media::quality {
namespace {

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

void SeriesBucket::Merge(const SeriesBucket& o)
{
    speechFrames += o.speechFrames;
    silenceFrames += o.silenceFrames;
    lostFrames += o.lostFrames;
    samples += o.samples;
    sumSquares = SaturatingAdd(sumSquares, o.sumSquares);
    packets += o.packets;
    lostPackets += o.lostPackets;
    jitterMaxMs = std::max(jitterMaxMs, o.jitterMaxMs);
}

double SeriesBucket::LoudnessDbfs() const
{
    if (samples == 0 || sumSquares == 0)
        return kSilentDbfs;
    const double meanSquare = static_cast<double>(sumSquares) / static_cast<double>(samples);
    return std::max(kSilentDbfs, 10 * std::log10(meanSquare / (32768.0 * 32768.0)));
}

StreamSeries::StreamSeries(size_t maxBuckets) : maxBuckets_(std::max<size_t>(maxBuckets, 2)) {}

void StreamSeries::Coarsen()
{
    const size_t merged = (buckets_.size() + 1) / 2;
    for (size_t i = 0; i < merged; ++i) {
        SeriesBucket b = buckets_[2 * i];
        if (2 * i + 1 < buckets_.size())
            b.Merge(buckets_[2 * i + 1]);
        buckets_[i] = b;
    }
    buckets_.resize(merged);
    widthNs_ *= 2;
}

SeriesBucket& StreamSeries::At(int64_t ns)
{
    ns = std::max<int64_t>(ns, 0);
    while (static_cast<uint64_t>(ns / widthNs_) >= maxBuckets_)
        Coarsen();
    const auto index = static_cast<size_t>(ns / widthNs_);
    if (index >= buckets_.size())
        buckets_.resize(index + 1);
    return buckets_[index];
}

void StreamSeries::Frames(uint64_t frame, Slot kind, uint64_t count)
{
    // Bucket by bucket: a long run of lost frames spans several.
    while (count > 0) {
        const int64_t ns = static_cast<int64_t>(std::min<uint64_t>(frame, INT64_MAX / kSeriesFrameNs)) * kSeriesFrameNs;
        SeriesBucket& b = At(ns);
        const int64_t rest = widthNs_ - ns % widthNs_;  // to the bucket's end
        const uint64_t fit = std::max<uint64_t>(1, static_cast<uint64_t>((rest + kSeriesFrameNs - 1) / kSeriesFrameNs));
        const uint64_t n = std::min(count, fit);
        (kind == Slot::kSpeech ? b.speechFrames : kind == Slot::kSilence ? b.silenceFrames : b.lostFrames) += n;
        frame += n;
        count -= n;
    }
}

void StreamSeries::Samples(uint64_t first, const int16_t* pcm, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const uint64_t sample = first + done;
        const int64_t ns =
            static_cast<int64_t>(std::min<uint64_t>(sample, INT64_MAX / kSeriesSampleNs)) * kSeriesSampleNs;
        SeriesBucket& b = At(ns);
        const int64_t rest = widthNs_ - ns % widthNs_;  // to the bucket's end
        const size_t fit = static_cast<size_t>(std::max<int64_t>(1, (rest + kSeriesSampleNs - 1) / kSeriesSampleNs));
        const size_t n = std::min(count - done, fit);
        uint64_t sum = 0;
        for (size_t i = 0; i < n; ++i) {
            const int64_t v = pcm[done + i];
            sum += static_cast<uint64_t>(v * v);  // at most 2^30 each: a block cannot overflow
        }
        b.sumSquares = SaturatingAdd(b.sumSquares, sum);
        b.samples += n;
        done += n;
    }
}

void StreamSeries::Arrival(int64_t ns, double jitterMs, int64_t lostSoFar)
{
    SeriesBucket& b = At(ns);
    ++b.packets;
    b.jitterMaxMs = std::max(b.jitterMaxMs, jitterMs);
    b.lostPackets += lostSoFar - lostSoFar_;
    lostSoFar_ = lostSoFar;
}

}  // namespace mervox::media::quality
