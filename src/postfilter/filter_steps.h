// Single steps of the synthesis filter and the formant postfilter, shared by
// their overlapped form (SynthesizeAndPostfilter) and by the filters run one
// after the other that the tests compare it with (tests/reference). Each step fixes its rounding points and the
// order of its double-precision sum: that order is part of the output.
//
// The recursions keep their last outputs in a RecentOutputs window, in
// registers, instead of reading them back from the buffer they have just
// been stored in: the read-back would sit on the serial chain of every
// sample.
#pragma once

#include <utility>

#include "codec_facts.h"
#include "loop_hints.h"
#include "postfilter/formant_constants.h"

namespace mervox {

// The last kTaps outputs of a recursion, most recent first, as doubles
// (exact copies of the stored floats).
template <int kTaps>
struct RecentOutputs {
    double v[kTaps];

    // From the buffer: y[-1] (most recent) .. y[-kTaps].
    void Load(const float* y)
    {
        MERVOX_UNROLL(10)
        for (int k = 0; k < kTaps; ++k)
            v[k] = y[-1 - k];
    }

    // Shifts every output one place older and makes `out` the most recent.
    // Spelled out as single assignments rather than a loop, which a compiler
    // may turn into a memory move and so keep the window out of registers.
    void Push(float out)
    {
        ShiftOlder(std::make_integer_sequence<int, kTaps - 1>());
        v[0] = out;
    }

private:
    // v[kTaps - 1] = v[kTaps - 2], then v[kTaps - 2] = v[kTaps - 3], ...
    template <int... k>
    void ShiftOlder(std::integer_sequence<int, k...>)
    {
        ((v[kTaps - 1 - k] = v[kTaps - 2 - k]), ...);
    }
};

// A subframe's LPC set as doubles (exactly).
struct SynthesisCoefficients {
    double a[kLpcOrder];
};

inline SynthesisCoefficients MakeSynthesisCoefficients(const float a[kLpcOrder])
{
    SynthesisCoefficients c;
    MERVOX_UNROLL(10)
    for (int k = 0; k < kLpcOrder; ++k)
        c.a[k] = a[k];
    return c;
}

// One synthesized sample: a[0]*y[-1] + ... + a[9]*y[-10] + e, the products
// from the most recent sample back, the excitation last.
inline float SynthesisStep(const RecentOutputs<kLpcOrder>& y, const SynthesisCoefficients& c, float e)
{
    double sum = c.a[0] * y.v[0];
    MERVOX_UNROLL(10)
    for (int k = 1; k < kLpcOrder; ++k)
        sum += c.a[k] * y.v[k];
    return static_cast<float>(sum + e);
}

// Weights and tilt factor of the formant postfilter for one subframe.
struct FormantSubframe {
    double w[kFormantOrder];  // 0.135^(k+1) * a[k], rounded to single precision
    double t;                 // tilt compensation factor, rounded to single precision
};

// One postfiltered sample: w[0]*y[-1] + ... + w[5]*y[-6], then the
// tilt-compensated input kFormantInputGain * (x[0] - t*x[-1]).
inline float FormantStep(const RecentOutputs<kFormantOrder>& y, const float* x, const FormantSubframe& f)
{
    double sum = f.w[0] * y.v[0];
    MERVOX_UNROLL(6)
    for (int k = 1; k < kFormantOrder; ++k)
        sum += f.w[k] * y.v[k];
    return static_cast<float>(sum + kFormantInputGain * (x[0] - f.t * x[-1]));
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
