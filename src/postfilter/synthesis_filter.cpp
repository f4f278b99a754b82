#include "dimensions.h"
#include "postfilter/filter_steps.h"
#include "postfilter/postfilter.h"

namespace mervox {

void SynthesisFilter(float memory[250], const float excitation[240], const float lpc[40])
{
    float* y = memory + kLpcOrder;
    for (int i = 0; i < kFrameLength; ++i)
        y[i] = SynthesisStep(y + i, lpc + kLpcOrder * (i / kSubframeLength), excitation[i]);
}

}  // namespace mervox
