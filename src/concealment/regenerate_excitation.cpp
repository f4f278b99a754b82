// The excitation of a bad frame: the last pitch period repeated, or noise
// from the concealment's own generator, fading to silence.
#include <cstring>

#include "concealment/concealment.h"

namespace mervox {
namespace {

constexpr int kLastAudibleErasure = 2;
constexpr double kNoiseScale = 1.0 / 32768.0;

// The generator: seed = seed * 521 + 259 (mod 2^16).
constexpr uint32_t kMultiplier = 521;
constexpr uint32_t kIncrement = 259;
// Four steps at once: seed_{n+4} = seed_n * 521^4 + 259 (521^3 + 521^2 +
// 521 + 1) (mod 2^16), so four interleaved runs of the sequence advance
// side by side instead of one value after the other.
constexpr int kStrides = 4;
constexpr uint32_t kStrideMultiplier = (kMultiplier * kMultiplier * kMultiplier % 65536u) * kMultiplier % 65536u;
constexpr uint32_t kStrideIncrement =
    kIncrement * ((kMultiplier * kMultiplier * kMultiplier + kMultiplier * kMultiplier + kMultiplier + 1u) % 65536u) %
    65536u;
static_assert(kFrameLength % kStrides == 0, "the strides must tile the frame");

uint16_t Step(uint32_t seed, uint32_t multiplier, uint32_t increment)
{
    return static_cast<uint16_t>(seed * multiplier + increment);
}

}  // namespace

int16_t NextRandom(int16_t& seed)
{
    seed = static_cast<int16_t>(Step(static_cast<uint16_t>(seed), kMultiplier, kIncrement));
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
        // The last pitch period repeated: an upward copy, which past
        // i >= lag reads what it wrote, made of whole periods, each copied
        // from the one before it.
        for (int i = 0; i < kFrameLength; i += lag) {
            const int count = kFrameLength - i < lag ? kFrameLength - i : lag;
            std::memcpy(current + i, current + i - lag, sizeof(float) * static_cast<size_t>(count));
        }
        // Float times float, rounded to float: a float product is the
        // double product (exact) rounded once, as the scaling is defined.
        for (int i = 0; i < kFrameLength; ++i) {
            current[i] = current[i] * gain;
            excitation[i] = current[i];
        }
        return;
    }
    const float g = static_cast<float>(gain * kNoiseScale);
    // run[l] is the value for sample i + l: NextRandom's sequence, four
    // values a step.
    uint16_t run[kStrides];
    for (int l = 0; l < kStrides; ++l)
        run[l] = static_cast<uint16_t>(NextRandom(seed));
    for (int i = 0; i < kFrameLength; i += kStrides) {
        if (i > 0)
            for (int l = 0; l < kStrides; ++l)
                run[l] = Step(run[l], kStrideMultiplier, kStrideIncrement);
        for (int l = 0; l < kStrides; ++l) {
            current[i + l] = 0.0f;
            excitation[i + l] = static_cast<float>(static_cast<int16_t>(run[l]) * static_cast<double>(g));
        }
    }
    // The frame's last value, as 240 single steps leave the seed.
    seed = static_cast<int16_t>(run[kStrides - 1]);
}

}  // namespace mervox
