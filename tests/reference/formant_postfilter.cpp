#include "codec_facts.h"
#include "postfilter/filter_steps.h"
#include "reference.h"

namespace mervox::reference {

void FormantPostfilter(float* out, const float* speech, const float lpc[kLpcSetsLength], float& tilt)
{
    for (int s = 0; s < kSubframes; ++s) {
        const float* x = speech + kSubframeLength * s;
        float* y = out + kSubframeLength * s;
        TiltSums sums;
        for (int n = 0; n < kSubframeLength; ++n)
            AddToTiltSums(sums, x, n);
        const FormantSubframe f = PrepareFormantSubframe(sums, lpc + kLpcOrder * s, tilt);
        RecentOutputs<kFormantOrder> recent;
        recent.Load(y);
        for (int n = 0; n < kSubframeLength; ++n) {
            y[n] = FormantStep(recent, x + n, f);
            recent.Push(y[n]);
        }
    }
}

}  // namespace mervox::reference
