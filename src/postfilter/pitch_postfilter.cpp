#include "postfilter/postfilter.h"

#include <cmath>

#include "codec_facts.h"
#include "postfilter/pitch_lanes.h"
#include "postfilter/pitch_search.h"

namespace mervox {
namespace {

constexpr double kMaxGainFactor = 0.21375;

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
    PitchExcitation e;
    LoadPitchExcitation<PitchLanes2>(e, x, subframe);
    PitchSearch search;
    search.Start(e, openLoopLag, subframe);
    for (int n = 0; n < kSubframeLength; ++n)
        search.AddSample(n);
    return search.Finish();
}

void PitchPostfilter(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames],
                     LaneVariant variant)
{
    // Forward lags reach into later subframes, so the search runs on the
    // finished, unfiltered excitation of the whole frame.
    switch (variant) {
    case LaneVariant::kScalar:
        PitchPostfilterLanes<PitchLanes1>(pfExcitation, x, openLoopLag);
        return;
    case LaneVariant::kSse2:
        break;
    case LaneVariant::kAvx2:
        if (PitchPostfilterAvx2(pfExcitation, x, openLoopLag))
            return;
        break;
    case LaneVariant::kAvx512:
        if (PitchPostfilterAvx512(pfExcitation, x, openLoopLag))
            return;
        break;
    }
    PitchPostfilterLanes<PitchLanes2>(pfExcitation, x, openLoopLag);
}

}  // namespace mervox
