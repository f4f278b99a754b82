#include "postfilter/postfilter.h"

#include "dimensions.h"

namespace mervox {

void SynthesisFilter(float memory[250], const float excitation[240], const float lpc[40])
{
    float* y = memory + kLpcOrder;
    for (int i = 0; i < kFrameLength; ++i) {
        const float* a = lpc + kLpcOrder * (i / kSubframeLength);
        // Most recent output first, the excitation last: the order of this
        // double-precision sum is part of the decoder's exact output.
        double sum = static_cast<double>(a[0]) * y[i - 1];
        for (int k = 1; k < kLpcOrder; ++k)
            sum += static_cast<double>(a[k]) * y[i - 1 - k];
        y[i] = static_cast<float>(sum + excitation[i]);
    }
}

}  // namespace mervox
