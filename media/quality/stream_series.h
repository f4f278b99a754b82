// A stream over time, for drawing: what happened in each second of it,
// gathered as the stream is read and decoded, in bounded memory.
//
// Buckets are one second wide from the stream's start, at most
// kSeriesBuckets of them: when a time falls past the last one, neighbours
// are merged in pairs and the width doubles (2 s, 4 s, ...), so a stream
// of any length keeps at most kSeriesBuckets buckets, and the buckets of a
// stream up to four minutes long stay one second wide. Buckets are made as
// times reach them: a short stream holds a few.
//
// Three kinds of figures, each gathered where it arises and on its own
// time axis (nanoseconds from the stream's start):
//  - the timeline (frames at 30 ms each from the first one placed): speech
//    frames, silence (descriptors and untransmitted frames) and lost
//    frames, which the decoder conceals;
//  - the decoded samples (8000 a second): their energy, for loudness;
//  - the arrivals (capture time from the first packet): packets, the
//    interarrival jitter after each (its largest value in the bucket), and
//    the packets lost by RFC 3550's count (expected - received), as it
//    grew in the bucket (a duplicate makes it shrink), so that the buckets
//    add up to the stream's total.
// Every figure is an integer sum or a maximum: the same samples in the
// same order give the same buckets, whichever thread gathers them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mervox::media::quality {

constexpr size_t kSeriesBuckets = 240;
constexpr int64_t kSeriesBucketNs = 1'000'000'000;
constexpr int64_t kSeriesFrameNs = 30'000'000;  // one G.723.1 frame
constexpr int64_t kSeriesSampleNs = 125'000;    // one sample at 8 kHz

struct SeriesBucket {
    uint64_t speechFrames = 0;
    uint64_t silenceFrames = 0;
    uint64_t lostFrames = 0;
    uint64_t samples = 0;
    uint64_t sumSquares = 0;  // of the samples (saturates, far beyond any real bucket)
    uint64_t packets = 0;
    int64_t lostPackets = 0;
    double jitterMaxMs = 0;

    void Merge(const SeriesBucket& o);
    // Root mean square of the samples in dB below full scale (32768);
    // kSilentDbfs for none or digital silence.
    double LoudnessDbfs() const;
};

constexpr double kSilentDbfs = -100;

class StreamSeries {
public:
    explicit StreamSeries(size_t maxBuckets = kSeriesBuckets);

    // The bucket of a time (ns from the stream's start; earlier counts as 0).
    SeriesBucket& At(int64_t ns);

    // Timeline: frames from frame number `frame` on.
    enum class Slot { kSpeech, kSilence, kLost };
    void Frames(uint64_t frame, Slot kind, uint64_t count);
    // Decoded samples from sample number `first` on.
    void Samples(uint64_t first, const int16_t* pcm, size_t count);
    // Arrivals: a packet at `ns` after which the jitter is `jitterMs` and
    // the packets lost so far `lostSoFar`.
    void Arrival(int64_t ns, double jitterMs, int64_t lostSoFar);

    int64_t widthNs() const { return widthNs_; }
    const std::vector<SeriesBucket>& buckets() const { return buckets_; }

private:
    void Coarsen();

    size_t maxBuckets_;
    int64_t widthNs_ = kSeriesBucketNs;
    std::vector<SeriesBucket> buckets_;
    int64_t lostSoFar_ = 0;
};

}  // namespace mervox::media::quality
