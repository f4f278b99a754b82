#include "excitation/excitation.h"

#include <cstring>

#include "codec_facts.h"
#include "tables/tables.h"

namespace mervox {
namespace {

constexpr int kTapReach = kPitchTaps / 2;  // the taps read x[n - lag - 2] .. x[n - lag + 2]

}  // namespace

void ExtendResidual(float* x, int lag)
{
    for (int k = 0; k <= kSubframeLength - 1 + kTapReach - lag; ++k)
        x[k] = x[k - lag];
}

void DecodeAdaptiveCodebook(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate)
{
    const int lag = openLoopLag + lagOffset - 1;
    ExtendResidual(x, lag);

    const float* g =
        (rate == kRate53 || openLoopLag >= kShortLagLimit) ? PitchTapTable170[gainIndex] : PitchTapTable85[gainIndex];

    // Every sample reads only samples from before this filter: the newest
    // it reads, x[n - lag + 2], lies at least 15 samples back (lag >= 17).
    // So the samples are independent of each other and are computed into a
    // separate buffer, then stored. Each partial sum is stored as a float:
    // the filter works in single precision.
    const double g0 = g[0], g1 = g[1], g2 = g[2], g3 = g[3], g4 = g[4];
    float out[kSubframeLength];
    for (int n = 0; n < kSubframeLength; ++n) {
        const float* s = x + n - lag - kTapReach;
        float sum = static_cast<float>(g0 * s[0]);
        sum = static_cast<float>(sum + g1 * s[1]);
        sum = static_cast<float>(sum + g2 * s[2]);
        sum = static_cast<float>(sum + g3 * s[3]);
        sum = static_cast<float>(sum + g4 * s[4]);
        out[n] = sum;
    }
    std::memcpy(x, out, sizeof out);
}

}  // namespace mervox
