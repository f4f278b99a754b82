#include "postfilter/postfilter.h"

#include <cmath>

#include "codec_facts.h"
#include "loop_hints.h"

namespace mervox {
namespace {

constexpr int kSegment = kSubframeLength + kSearchLags - 1;  // samples the candidates reach together
constexpr double kMaxGainFactor = 0.21375;

// Everything the lag search needs, in one pass over the subframe x[0..59]:
// the correlations with the segments of the seven backward and the seven
// forward candidate lags, back[k] = x[0]*seg[k] + x[1]*seg[1 + k] + ...
// + x[59]*seg[59 + k] (seg the backward or the forward segment), and the
// subframe's energy x[0]^2 + ... + x[59]^2. Each sum is accumulated over n
// in order, as a correlation computed alone would be; computing them side
// by side only lets the processor run the fifteen sums in parallel. Without
// forward candidates (withForward false) fwd is neither read nor written.
struct SearchSums {
    double back[kSearchLags];
    double fwd[kSearchLags];
    double energy;
};

template <bool withForward>
SearchSums SumForSearch(const double x[kSubframeLength], const double backSeg[kSegment], const double fwdSeg[kSegment])
{
    SearchSums s = {};
    for (int n = 0; n < kSubframeLength; ++n) {
        const double xn = x[n];
        s.energy += xn * xn;
        // Unrolled, so that the sums stay in registers.
        MERVOX_UNROLL(7)
        for (int k = 0; k < kSearchLags; ++k)
            s.back[k] += xn * backSeg[n + k];
        if (withForward) {
            MERVOX_UNROLL(7)
            for (int k = 0; k < kSearchLags; ++k)
                s.fwd[k] += xn * fwdSeg[n + k];
        }
    }
    return s;
}

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

PitchPostfilterParams ComputePitchPostfilter(const float* x, int openLoopLag, int subframe)
{
    const int centre = openLoopLag > kMaxCentreLag ? kMaxCentreLag : openLoopLag;
    const int first = centre - kSearchHalfWidth;
    const int last = centre + kSearchHalfWidth;
    // A forward lag must keep the lagged segment inside the current frame.
    const int frameEnd = kFrameLength - kSubframeLength * subframe;  // x[frameEnd] is past the frame
    const int lastForward = frameEnd - kSubframeLength;

    // The samples in double (exactly): the subframe, the segment that the
    // backward lags pair with it (backSeg[m] = x[m - last], so lag j pairs
    // x[n] with backSeg[n + last - j]) and the one the forward lags pair with
    // it (fwdSeg[m] = x[m + first], lag j pairs x[n] with fwdSeg[n + j - first];
    // only up to the frame's end, which no allowed forward lag passes).
    const bool withForward = first <= lastForward;
    double cur[kSubframeLength], backSeg[kSegment], fwdSeg[kSegment];
    for (int n = 0; n < kSubframeLength; ++n)
        cur[n] = x[n];
    for (int m = 0; m < kSegment; ++m)
        backSeg[m] = x[m - last];
    if (withForward) {
        const int available = frameEnd - first < kSegment ? frameEnd - first : kSegment;
        for (int m = 0; m < available; ++m)
            fwdSeg[m] = x[m + first];
        for (int m = available; m < kSegment; ++m)
            fwdSeg[m] = 0.0;
    }

    const SearchSums sums =
        withForward ? SumForSearch<true>(cur, backSeg, fwdSeg) : SumForSearch<false>(cur, backSeg, fwdSeg);
    const LagCandidate backward = BestLag(first, last, [&](int j) { return sums.back[last - j]; });
    const LagCandidate forward = withForward ? BestLag(first, last < lastForward ? last : lastForward,
                                                       [&](int j) { return sums.fwd[j - first]; })
                                             : LagCandidate{};
    const float e0 = static_cast<float>(sums.energy);
    if (backward.lag == 0 && forward.lag == 0)
        return {0, 0.0f, 1.0f};

    // Energies of the chosen lagged segments, side by side (a missing lag's
    // sum runs over the start of its segment and is not used).
    const double* lb = backSeg + (backward.lag ? last - backward.lag : 0);
    const double* lf = withForward ? fwdSeg + (forward.lag ? forward.lag - first : 0) : backSeg;
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

void ApplyPitchPostfilter(float out[kSubframeLength], const float* x, const PitchPostfilterParams& p)
{
    for (int n = 0; n < kSubframeLength; ++n)
        out[n] = static_cast<float>(static_cast<double>(x[n]) * p.scale + static_cast<double>(x[n + p.lag]) * p.gain);
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
