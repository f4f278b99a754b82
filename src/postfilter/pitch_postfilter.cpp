#include "postfilter/postfilter.h"

#include <cmath>

#include "dimensions.h"

namespace mervox {
namespace {

constexpr int kMaxCentreLag = 142;
constexpr int kSearchHalfWidth = 3;
constexpr int kLags = 2 * kSearchHalfWidth + 1;           // candidate lags per direction
constexpr int kSegment = kSubframeLength + kLags - 1;    // samples the candidates reach together
constexpr double kMaxGainFactor = 0.21375;

// The correlations of the subframe x[0..59] with seven lagged segments at
// once: r[k] = x[0]*seg[k] + x[1]*seg[1 + k] + ... + x[59]*seg[59 + k].
// Each r[k] is summed over n in order, as a correlation computed alone
// would be; computing the seven side by side only lets the processor run
// the seven sums in parallel.
void CorrelateLags(const double x[kSubframeLength], const double seg[kSegment], double r[kLags])
{
    double sum[kLags] = {};
    for (int n = 0; n < kSubframeLength; ++n) {
        // Unrolled, so that the seven sums stay in registers.
#pragma GCC unroll 7
        for (int k = 0; k < kLags; ++k)
            sum[k] += x[n] * seg[n + k];
    }
    for (int k = 0; k < kLags; ++k)
        r[k] = sum[k];
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
    // backward lags pair with it (back[m] = x[m - last], so lag j pairs x[n]
    // with back[n + last - j]) and the one the forward lags pair with it
    // (fwd[m] = x[m + first], lag j pairs x[n] with fwd[n + j - first]; zero
    // past the frame's end, where no allowed forward lag reaches).
    double cur[kSubframeLength], back[kSegment], fwd[kSegment];
    for (int n = 0; n < kSubframeLength; ++n)
        cur[n] = x[n];
    for (int m = 0; m < kSegment; ++m)
        back[m] = x[m - last];
    for (int m = 0; m < kSegment; ++m)
        fwd[m] = m + first < frameEnd ? x[m + first] : 0.0;

    double backCorrelation[kLags], fwdCorrelation[kLags];
    CorrelateLags(cur, back, backCorrelation);
    CorrelateLags(cur, fwd, fwdCorrelation);
    const LagCandidate backward = BestLag(first, last, [&](int j) { return backCorrelation[last - j]; });
    const LagCandidate forward = BestLag(first, last < lastForward ? last : lastForward,
                                         [&](int j) { return fwdCorrelation[j - first]; });

    // The subframe's energy and those of the two chosen lagged segments
    // (side by side; a missing lag's sum is not used).
    const double* lb = back + (backward.lag ? last - backward.lag : 0);
    const double* lf = fwd + (forward.lag ? forward.lag - first : 0);
    double s0 = 0.0, sb = 0.0, sf = 0.0;
    for (int n = 0; n < kSubframeLength; ++n) {
        s0 += cur[n] * cur[n];
        sb += lb[n] * lb[n];
        sf += lf[n] * lf[n];
    }
    const float e0 = static_cast<float>(s0);
    if (backward.lag == 0 && forward.lag == 0)
        return {0, 0.0f, 1.0f};
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

}  // namespace mervox
