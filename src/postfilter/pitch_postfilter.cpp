#include "postfilter/postfilter.h"

#include <cmath>

#include "dimensions.h"

namespace mervox {
namespace {

constexpr int kMaxCentreLag = 142;
constexpr int kSearchHalfWidth = 3;
constexpr double kMaxGainFactor = 0.21375;

// Sum over the subframe of a[n] * b[n], in double.
double Dot(const float* a, const float* b)
{
    double sum = 0.0;
    for (int n = 0; n < kSubframeLength; ++n)
        sum += static_cast<double>(a[n]) * b[n];
    return sum;
}

struct LagCandidate {
    int lag = 0;
    float correlation = 0.0f;
};

// Best positively correlated lag of [first, last]; ties keep the smaller lag.
// direction -1 searches x[n - j], +1 searches x[n + j].
LagCandidate SearchLags(const float* x, int first, int last, int direction)
{
    LagCandidate best;
    for (int j = first; j <= last; ++j) {
        const double r = Dot(x, x + direction * j);
        if (r > best.correlation) {
            best.correlation = static_cast<float>(r);
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

    const LagCandidate backward = SearchLags(x, first, last, -1);
    // A forward lag must keep the lagged segment inside the current frame.
    const int lastForward = kFrameLength - kSubframeLength * (subframe + 1);
    const LagCandidate forward = SearchLags(x, first, last < lastForward ? last : lastForward, +1);

    const float e0 = static_cast<float>(Dot(x, x));
    if (backward.lag == 0 && forward.lag == 0)
        return {0, 0.0f, 1.0f};

    float eb = 0.0f, ef = 0.0f;
    if (backward.lag)
        eb = static_cast<float>(Dot(x - backward.lag, x - backward.lag));
    if (forward.lag)
        ef = static_cast<float>(Dot(x + forward.lag, x + forward.lag));

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
