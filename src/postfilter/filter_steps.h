// Single steps of the synthesis filter and the formant postfilter, shared by
// the filters run one after the other and by their overlapped form
// (SynthesizeAndPostfilter). Each step fixes its rounding points and the
// order of its double-precision sum: that order is part of the output.
#pragma once

#include "dimensions.h"

namespace mervox {

// Weights and tilt factor of the formant postfilter for one subframe.
struct FormantSubframe {
    float w[6];  // 0.135^(k+1) * a[k]
    float t;     // tilt compensation factor
};

// One synthesized sample: a[0]*y[-1] + ... + a[9]*y[-10] + e, the products
// from the most recent sample back, the excitation last.
inline float SynthesisStep(const float* y, const float a[kLpcOrder], float e)
{
    double sum = static_cast<double>(a[0]) * y[-1];
    for (int k = 1; k < kLpcOrder; ++k)
        sum += static_cast<double>(a[k]) * y[-1 - k];
    return static_cast<float>(sum + e);
}

// One postfiltered sample: w[0]*y[-1] + ... + w[5]*y[-6], then the
// tilt-compensated input 33/32 * (x[0] - t*x[-1]).
inline float FormantStep(const float* y, const float* x, const FormantSubframe& f)
{
    double sum = static_cast<double>(f.w[0]) * y[-1];
    for (int k = 1; k < 6; ++k)
        sum += static_cast<double>(f.w[k]) * y[-1 - k];
    return static_cast<float>(sum + 1.03125 * (x[0] - static_cast<double>(f.t) * x[-1]));
}

// The sums the postfilter's tilt is derived from, over one subframe of
// synthesized speech x[0..59]: energy x[0]^2 + ... + x[59]^2 and
// correlation x[0]*x[1] + ... + x[58]*x[59], each summed in that order.
struct TiltSums {
    double energy = 0.0;
    double correlation = 0.0;
};

// Adds sample x[n] of the subframe (n = 0..59, in order) to the sums.
inline void AddToTiltSums(TiltSums& sums, const float* x, int n)
{
    sums.energy += static_cast<double>(x[n]) * x[n];
    if (n > 0)
        sums.correlation += static_cast<double>(x[n - 1]) * x[n];
}

// Weights from the subframe's LPC set, and the tilt update from the sums
// of its synthesized speech (updates the smoothed tilt).
FormantSubframe PrepareFormantSubframe(const TiltSums& sums, const float a[kLpcOrder], float& tilt);

}  // namespace mervox
