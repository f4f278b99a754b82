// The formant postfilter's coefficients for one subframe: its weights and
// the smoothed tilt.
#include "codec_facts.h"
#include "postfilter/filter_steps.h"
#include "postfilter/formant_constants.h"
#include "tables/tables.h"

namespace mervox {
namespace {

// Smoothed first-order autocorrelation ratio of the subframe's speech.
float UpdateTilt(const TiltSums& sums, float tilt)
{
    const float e = static_cast<float>(sums.energy);
    const float ratio = (e == 0.0f) ? 0.0f : static_cast<float>(sums.correlation / e);
    return static_cast<float>(tilt + kTiltSmoothing * (static_cast<double>(ratio) - tilt));
}

}  // namespace

FormantSubframe PrepareFormantSubframe(const TiltSums& sums, const float a[kLpcOrder], float& tilt)
{
    FormantSubframe f;
    for (int k = 0; k < kFormantOrder; ++k)
        f.w[k] = static_cast<float>(static_cast<double>(FormantWeightTable[k + 1]) * a[k]);
    tilt = UpdateTilt(sums, tilt);
    f.t = static_cast<float>(kTiltStrength * tilt);
    return f;
}

}  // namespace mervox
