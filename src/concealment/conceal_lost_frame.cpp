// The rules of a loss run: its count, and the lag and gain chosen on its
// first frame and attenuated on every later one.
#include <cmath>

#include "concealment/concealment.h"

namespace mervox {
namespace {

constexpr int32_t kMaxErasureCount = 3;
constexpr float kVoicedConcealGain = 0.875f;
constexpr double kConcealAttenuation = 0.75;  // per further bad frame of the run

// Root mean square of the last 120 past samples, from the sum of their
// squares (in order): the gain of an unvoiced loss run.
float RmsOfRecentExcitation(double energy)
{
    const float meanSquare = static_cast<float>(energy * (1.0 / kAnalysisWindow));
    return static_cast<float>(std::sqrt(static_cast<double>(meanSquare)));
}

}  // namespace

int32_t CountErasure(int32_t erasureCount, int32_t badFrame)
{
    if (!badFrame)
        return 0;
    return erasureCount < kMaxErasureCount ? erasureCount + 1 : kMaxErasureCount;
}

void ConcealLostFrame(float excitation[kExcitationLength], float pfExcitation[kFrameLength], int32_t lagEstimate,
                      int32_t erasureCount, int32_t& concealLag, float& concealGain, int16_t& noiseSeed)
{
    if (erasureCount == 1) {
        // The voicing decision sums the energy of the same 120 samples.
        double recentEnergy = 0.0;
        concealLag = ClassifyLostFrame(excitation + kHistoryLength - kAnalysisWindow, lagEstimate, recentEnergy);
        concealGain = concealLag ? kVoicedConcealGain : RmsOfRecentExcitation(recentEnergy);
    } else {
        concealGain = static_cast<float>(concealGain * kConcealAttenuation);
    }
    RegenerateExcitation(excitation + kHistoryLength, pfExcitation, concealLag, concealGain, erasureCount, noiseSeed);
}

}  // namespace mervox
