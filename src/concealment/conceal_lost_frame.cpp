// The rules of a loss run: its count, and the lag and gain chosen on its
// first frame and attenuated on every later one.
#include <cmath>

#include "concealment/concealment.h"

namespace mervox {
namespace {

constexpr int32_t kMaxErasureCount = 3;
constexpr float kVoicedConcealGain = 0.875f;
constexpr double kConcealAttenuation = 0.75;  // per further bad frame of the run

// Root mean square of the last 120 past samples: the gain of an
// unvoiced loss run.
float RmsOfRecentExcitation(const float excitation[kExcitationLength])
{
    const float* recent = excitation + kHistoryLength - kAnalysisWindow;
    double energy = 0.0;
    for (int j = 0; j < kAnalysisWindow; ++j)
        energy += static_cast<double>(recent[j]) * recent[j];
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
        concealLag = ClassifyLostFrame(excitation + kHistoryLength - kAnalysisWindow, lagEstimate);
        concealGain = concealLag ? kVoicedConcealGain : RmsOfRecentExcitation(excitation);
    } else {
        concealGain = static_cast<float>(concealGain * kConcealAttenuation);
    }
    RegenerateExcitation(excitation + kHistoryLength, pfExcitation, concealLag, concealGain, erasureCount, noiseSeed);
}

}  // namespace mervox
