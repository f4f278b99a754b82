// The excitation of a bad frame: the last pitch period repeated, or noise
// from the concealment's own generator, fading to silence.
#include "concealment/concealment.h"

namespace mervox {
namespace {

constexpr int kLastAudibleErasure = 2;
constexpr double kNoiseScale = 1.0 / 32768.0;

}  // namespace

int16_t NextRandom(int16_t& seed)
{
    const uint16_t next = static_cast<uint16_t>(static_cast<uint32_t>(static_cast<uint16_t>(seed)) * 521u + 259u);
    seed = static_cast<int16_t>(next);
    return seed;
}

void RegenerateExcitation(float* current, float excitation[kFrameLength], int32_t lag, float gain, int32_t erasureCount,
                          int16_t& seed)
{
    if (erasureCount > kLastAudibleErasure) {
        for (int i = 0; i < kFrameLength; ++i)
            current[i] = excitation[i] = 0.0f;
        return;
    }
    if (lag != 0) {
        // Upward copy: past i >= lag it reads what it wrote, repeating the
        // last pitch period.
        for (int i = 0; i < kFrameLength; ++i)
            current[i] = current[i - lag];
        for (int i = 0; i < kFrameLength; ++i) {
            current[i] = static_cast<float>(static_cast<double>(current[i]) * gain);
            excitation[i] = current[i];
        }
        return;
    }
    const float g = static_cast<float>(gain * kNoiseScale);
    for (int i = 0; i < kFrameLength; ++i) {
        current[i] = 0.0f;
        excitation[i] = static_cast<float>(NextRandom(seed) * static_cast<double>(g));
    }
}

}  // namespace mervox
