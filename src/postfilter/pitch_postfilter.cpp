#include "postfilter/postfilter.h"

#include <cmath>

#include "codec_facts.h"
#include "loop_hints.h"
#include "postfilter/pitch_search.h"

namespace mervox {
namespace {

constexpr double kMaxGainFactor = 0.21375;

struct LagCandidate {
    int lag = 0;
    float correlation = 0.0f;
};

// Best positively correlated lag of first..last, where r(j) is the
// correlation at lag j; ties keep the smaller lag.
template <class Correlation>
LagCandidate BestLag(int first, int last, Correlation r)
{
    LagCandidate best;
    for (int j = first; j <= last; ++j) {
        const double c = r(j);
        if (c > best.correlation) {
            best.correlation = static_cast<float>(c);
            best.lag = j;
        }
    }
    return best;
}

}  // namespace

PitchPostfilterParams ComputePitchGains(int lag, float e0, float r, float e1)
{
    if (static_cast<double>(r) * r <= 0.25 * e0 * e1)
        return {lag, 0.0f, 1.0f};
    const float g = (e1 > r) ? static_cast<float>(kMaxGainFactor * r / e1) : static_cast<float>(kMaxGainFactor);
    const double root = std::sqrt(e0 / (e0 + g * (static_cast<double>(g) * e1 + 2.0 * r)));
    return {lag, static_cast<float>(g * root), static_cast<float>(root)};
}

void PitchSearch::Start(const float* x, int openLoopLag, int subframe)
{
    const int centre = openLoopLag > kMaxCentreLag ? kMaxCentreLag : openLoopLag;
    first_ = centre - kSearchHalfWidth;
    last_ = centre + kSearchHalfWidth;
    // A forward lag must keep the lagged segment inside the current frame.
    const int frameEnd = kFrameLength - kSubframeLength * subframe;  // x[frameEnd] is past the frame
    lastForward_ = frameEnd - kSubframeLength;
    withForward_ = first_ <= lastForward_;

    for (int n = 0; n < kSubframeLength; ++n)
        cur_[n] = x[n];
    for (int m = 0; m < kSegment; ++m)
        backSeg_[m] = x[m - last_];
    if (withForward_) {
        const int available = frameEnd - first_ < kSegment ? frameEnd - first_ : kSegment;
        for (int m = 0; m < available; ++m)
            fwdSeg_[m] = x[m + first_];
        for (int m = available; m < kSegment; ++m)
            fwdSeg_[m] = 0.0;
    }
    for (int k = 0; k < kSearchLags; ++k)
        back_[k] = fwd_[k] = 0.0;
    energy_ = 0.0;
}

PitchPostfilterParams PitchSearch::Finish() const
{
    const int first = first_, last = last_, lastForward = lastForward_;
    const LagCandidate backward = BestLag(first, last, [&](int j) { return back_[last - j]; });
    const LagCandidate forward =
        withForward_ ? BestLag(first, last < lastForward ? last : lastForward, [&](int j) { return fwd_[j - first]; })
                     : LagCandidate{};
    const float e0 = static_cast<float>(energy_);
    if (backward.lag == 0 && forward.lag == 0)
        return {0, 0.0f, 1.0f};

    // Energies of the chosen lagged segments, side by side (a missing lag's
    // sum runs over the start of its segment and is not used).
    const double* lb = backSeg_ + (backward.lag ? last - backward.lag : 0);
    const double* lf = withForward_ ? fwdSeg_ + (forward.lag ? forward.lag - first : 0) : backSeg_;
    double sb = 0.0, sf = 0.0;
    for (int n = 0; n < kSubframeLength; ++n) {
        sb += lb[n] * lb[n];
        sf += lf[n] * lf[n];
    }
    const float eb = backward.lag ? static_cast<float>(sb) : 0.0f;
    const float ef = forward.lag ? static_cast<float>(sf) : 0.0f;

    if (forward.lag == 0)
        return ComputePitchGains(-backward.lag, e0, backward.correlation, eb);
    if (backward.lag == 0)
        return ComputePitchGains(forward.lag, e0, forward.correlation, ef);

    const double rf = forward.correlation, rb = backward.correlation;
    if (rf * rf * eb >= rb * rb * ef)
        return ComputePitchGains(forward.lag, e0, forward.correlation, ef);
    return ComputePitchGains(-backward.lag, e0, backward.correlation, eb);
}

PitchPostfilterParams ComputePitchPostfilter(const float* x, int openLoopLag, int subframe)
{
    PitchSearch search;
    search.Start(x, openLoopLag, subframe);
    for (int n = 0; n < kSubframeLength; ++n)
        search.AddSample(n);
    return search.Finish();
}

void ApplyPitchPostfilter(float out[kSubframeLength], const float* x, const PitchPostfilterParams& p)
{
    for (int n = 0; n < kSubframeLength; ++n)
        out[n] = PitchPostfilteredSample(x, p, n);
}

void PitchPostfilter(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    // Forward lags reach into later subframes, so the search runs on the
    // finished, unfiltered excitation of the whole frame.
    for (int i = 0; i < kSubframes; ++i) {
        const float* subframe = x + kSubframeLength * i;
        ApplyPitchPostfilter(pfExcitation + kSubframeLength * i, subframe,
                             ComputePitchPostfilter(subframe, openLoopLag[i / 2], i));
    }
}

}  // namespace mervox
