#include "concealment/concealment.h"

#include "dimensions.h"

namespace mervox {
namespace {

constexpr int kWindow = 120;
constexpr int kMaxCentreLag = 142;
constexpr int kSearchHalfWidth = 3;
constexpr double kVoicingFactor = 5.0;  // voiced when R^2 / (E0 E1) > 1/5
constexpr int kLastAudibleErasure = 2;
constexpr double kNoiseScale = 1.0 / 32768.0;

double Dot(const float* a, const float* b)
{
    double sum = 0.0;
    for (int j = 0; j < kWindow; ++j)
        sum += static_cast<double>(a[j]) * b[j];
    return sum;
}

}  // namespace

int32_t ClassifyLostFrame(const float* window, int32_t lagEstimate)
{
    const int centre = lagEstimate > kMaxCentreLag ? kMaxCentreLag : lagEstimate;
    float best = 0.0f;
    int lag = 0;
    for (int i = centre - kSearchHalfWidth; i <= centre + kSearchHalfWidth; ++i) {
        const double r = Dot(window, window - i);
        if (r > best) {
            best = static_cast<float>(r);
            lag = i;
        }
    }
    if (lag == 0)
        return 0;
    const float e0 = static_cast<float>(Dot(window, window));
    const float e1 = static_cast<float>(Dot(window - lag, window - lag));
    return static_cast<double>(e0) * e1 < kVoicingFactor * best * best ? lag : 0;
}

int16_t NextRandom(int16_t& seed)
{
    const uint16_t next = static_cast<uint16_t>(static_cast<uint32_t>(static_cast<uint16_t>(seed)) * 521u + 259u);
    seed = static_cast<int16_t>(next);
    return seed;
}

void RegenerateExcitation(float* current, float excitation[240], int32_t lag, float gain,
                          int32_t erasureCount, int16_t& seed)
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
