#include "excitation/excitation.h"

#include "dimensions.h"
#include "tables/tables.h"

namespace mervox {

void ExtendResidual(float* x, int lag)
{
    for (int k = 0; k <= 61 - lag; ++k)
        x[k] = x[k - lag];
}

void DecodeAdaptiveCodebook(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate)
{
    const int lag = openLoopLag + lagOffset - 1;
    ExtendResidual(x, lag);

    const float* g = (rate == kRate53 || openLoopLag >= 58) ? PitchTapTable170[gainIndex]
                                                            : PitchTapTable85[gainIndex];

    // Downward, so that every sample read (newest x[n - lag + 2], lag >= 17)
    // still holds its value from before this filter. Each partial sum is
    // stored as a float: the filter was specified in single precision.
    for (int n = kSubframeLength - 1; n >= 0; --n) {
        const float* s = x + n - lag - 2;
        float sum = static_cast<float>(static_cast<double>(g[0]) * s[0]);
        sum = static_cast<float>(sum + static_cast<double>(g[1]) * s[1]);
        sum = static_cast<float>(sum + static_cast<double>(g[2]) * s[2]);
        sum = static_cast<float>(sum + static_cast<double>(g[3]) * s[3]);
        sum = static_cast<float>(sum + static_cast<double>(g[4]) * s[4]);
        x[n] = sum;
    }
}

}  // namespace mervox
