#include "dimensions.h"
#include "postfilter/filter_steps.h"
#include "postfilter/postfilter.h"

namespace mervox {

void SynthesisFilter(float memory[250], const float excitation[240], const float lpc[40])
{
    float* y = memory + kLpcOrder;
    RecentOutputs<kLpcOrder> recent;
    recent.Load(y);
    for (int s = 0; s < kSubframes; ++s) {
        const SynthesisCoefficients c = MakeSynthesisCoefficients(lpc + kLpcOrder * s);
        for (int i = kSubframeLength * s; i < kSubframeLength * (s + 1); ++i) {
            y[i] = SynthesisStep(recent, c, excitation[i]);
            recent.Push(y[i]);
        }
    }
}

}  // namespace mervox
