// The voicing decision on the first bad frame of a loss run.
#include "concealment/concealment.h"

#include "codec_facts.h"
#include "loop_hints.h"

namespace mervox {
namespace {

constexpr double kVoicingFactor = 5.0;  // voiced when R^2 / (E0 E1) > 1/5

// The correlations of the window with the window `first + k` samples
// earlier, k = 0..6, in one pass: r[k] = window[0]*window[-first-k] + ...
// + window[119]*window[119-first-k]; and the window's energy, the sum of
// its squares. Each is summed over j in order, as a sum computed alone
// would be; side by side the processor runs the eight sums in parallel.
void CorrelateLags(const float* window, int first, double r[kSearchLags], double& energy)
{
    double sum[kSearchLags] = {};
    double e = 0.0;
    const float* lagged = window - first;
    for (int j = 0; j < kAnalysisWindow; ++j) {
        const double w = window[j];
        // Unrolled, so that the sums stay in registers.
        MERVOX_UNROLL(7)
        for (int k = 0; k < kSearchLags; ++k)
            sum[k] += w * lagged[j - k];
        e += w * w;
    }
    for (int k = 0; k < kSearchLags; ++k)
        r[k] = sum[k];
    energy = e;
}

}  // namespace

int32_t ClassifyLostFrame(const float* window, int32_t lagEstimate, double& windowEnergy)
{
    const int centre = lagEstimate > kMaxCentreLag ? kMaxCentreLag : lagEstimate;
    const int first = centre - kSearchHalfWidth;
    double r[kSearchLags];
    CorrelateLags(window, first, r, windowEnergy);
    float best = 0.0f;
    int lag = 0;
    for (int k = 0; k < kSearchLags; ++k) {
        if (r[k] > best) {
            best = static_cast<float>(r[k]);
            lag = first + k;
        }
    }
    if (lag == 0)
        return 0;
    // The energy of the window's copy at the chosen lag, summed in order.
    const float* lagged = window - lag;
    double s1 = 0.0;
    for (int j = 0; j < kAnalysisWindow; ++j)
        s1 += static_cast<double>(lagged[j]) * lagged[j];
    const float e0 = static_cast<float>(windowEnergy);
    const float e1 = static_cast<float>(s1);
    return static_cast<double>(e0) * e1 < kVoicingFactor * best * best ? lag : 0;
}

}  // namespace mervox
