#include "codec_facts.h"
#include "postfilter/filter_steps.h"
#include "reference.h"

namespace mervox::reference {

void SynthesisFilter(float memory[kFilterMemoryLength], const float excitation[kFrameLength],
                     const float lpc[kLpcSetsLength])
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

}  // namespace mervox::reference
