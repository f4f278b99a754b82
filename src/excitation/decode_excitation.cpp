#include "excitation/excitation.h"

namespace mervox {

void DecodeExcitation(float* x, const FrameParams& params, int rate)
{
    for (int i = 0; i < kSubframes; ++i) {
        float* subframe = x + kSubframeLength * i;
        const SubframeParams& sub = params.sub[i];
        float fixed[kPulseVectorLength];
        MakeFixedCodebookVector(fixed, params, rate, i);
        DecodeCodebooks(subframe, params.openLoopLag[i / 2], sub.lagOffset, sub.gainIndex, rate, fixed);
    }
}

}  // namespace mervox
