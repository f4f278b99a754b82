#include "postfilter/postfilter.h"

#include <cmath>

#include "codec_facts.h"
#include "lanes/pair.h"
#include "lanes/scalar.h"
#include "postfilter/lane_kernels.h"
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

PitchChoice ChoosePitchLags(const double* back, const double* fwd, int first, int last, int lastForward,
                            const double* cur)
{
    const LagCandidate backward = BestLag(first, last, [&](int j) { return back[last - j]; });
    const LagCandidate forward =
        BestLag(first, last < lastForward ? last : lastForward, [&](int j) { return fwd[j - first]; });
    return {backward.lag, forward.lag,        backward.correlation, forward.correlation,
            cur,          cur - backward.lag, cur + forward.lag};
}

PitchPostfilterParams DecidePitchPostfilter(const PitchChoice& c, double energy, double backwardEnergy,
                                            double forwardEnergy)
{
    if (c.backwardLag == 0 && c.forwardLag == 0)
        return {0, 0.0f, 1.0f};
    const float e0 = static_cast<float>(energy);
    const float eb = c.backwardLag ? static_cast<float>(backwardEnergy) : 0.0f;
    const float ef = c.forwardLag ? static_cast<float>(forwardEnergy) : 0.0f;
    if (c.forwardLag == 0)
        return ComputePitchGains(-c.backwardLag, e0, c.backwardCorrelation, eb);
    if (c.backwardLag == 0)
        return ComputePitchGains(c.forwardLag, e0, c.forwardCorrelation, ef);

    const double rf = c.forwardCorrelation, rb = c.backwardCorrelation;
    if (rf * rf * eb >= rb * rb * ef)
        return ComputePitchGains(c.forwardLag, e0, c.forwardCorrelation, ef);
    return ComputePitchGains(-c.backwardLag, e0, c.backwardCorrelation, eb);
}

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
    PitchExcitation e;
    LoadPitchExcitation<PairLanes>(e, x, subframe);
    PitchSearchLanes<PairLanes> search;
    search.Start(e, openLoopLag, subframe);
    for (int n = 0; n < kSubframeLength; ++n)
        search.AddSample(n);
    return search.Finish();
}

// One lag a register: 14 sums already keep the processor busy.
void PitchPostfilterScalar(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    PitchPostfilterLanes<ScalarLanes, 1, false>(pfExcitation, x, openLoopLag);
}

// Two lags a register, by direction: with sixteen registers both directions
// of two searches would spill.
void PitchPostfilterPair(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    PitchPostfilterLanes<PairLanes, 1, true>(pfExcitation, x, openLoopLag);
}

void PitchPostfilter(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames],
                     LaneVariant variant)
{
    // Forward lags reach into later subframes, so the search runs on the
    // finished, unfiltered excitation of the whole frame.
    KernelsOf(variant).pitchPostfilter(pfExcitation, x, openLoopLag);
}

}  // namespace mervox
