#include "postfilter/postfilter.h"

#include "dimensions.h"
#include "tables/tables.h"

namespace mervox {
namespace {

constexpr int kFormantOrder = 6;
constexpr double kTiltSmoothing = 0.75;   // weight of the new ratio
constexpr double kTiltStrength = 0.21875; // 7/32
constexpr double kOutputGain = 1.03125;   // 33/32

// Smoothed first-order autocorrelation ratio of the subframe's speech.
float UpdateTilt(const float* x, float tilt)
{
    double energy = 0.0, correlation = 0.0;
    for (int n = 0; n < kSubframeLength; ++n)
        energy += static_cast<double>(x[n]) * x[n];
    for (int n = 0; n < kSubframeLength - 1; ++n)
        correlation += static_cast<double>(x[n]) * x[n + 1];
    const float e = static_cast<float>(energy);
    const float ratio = (e == 0.0f) ? 0.0f : static_cast<float>(correlation / e);
    return static_cast<float>(tilt + kTiltSmoothing * (static_cast<double>(ratio) - tilt));
}

}  // namespace

void FormantPostfilter(float* out, const float* speech, const float lpc[40], float& tilt)
{
    for (int s = 0; s < kSubframes; ++s) {
        const float* a = lpc + kLpcOrder * s;
        const float* x = speech + kSubframeLength * s;
        float* y = out + kSubframeLength * s;

        float w[kFormantOrder];
        for (int k = 0; k < kFormantOrder; ++k)
            w[k] = static_cast<float>(static_cast<double>(FormantWeightTable[k + 1]) * a[k]);

        tilt = UpdateTilt(x, tilt);
        const float t = static_cast<float>(kTiltStrength * tilt);

        for (int n = 0; n < kSubframeLength; ++n) {
            double sum = static_cast<double>(w[0]) * y[n - 1];
            for (int k = 1; k < kFormantOrder; ++k)
                sum += static_cast<double>(w[k]) * y[n - 1 - k];
            y[n] = static_cast<float>(sum + kOutputGain * (x[n] - static_cast<double>(t) * x[n - 1]));
        }
    }
}

}  // namespace mervox
