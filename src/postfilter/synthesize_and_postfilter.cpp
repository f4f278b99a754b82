// The synthesis filter and the formant postfilter of one frame, overlapped.
//
// Each filter is a serial chain: every output sample needs the previous
// one, through a fixed-order double-precision sum. Run one after the other
// (SynthesisFilter, then FormantPostfilter) the two chains take the sum of
// their lengths. But the postfilter of subframe s needs only subframe s of
// the synthesized speech (all of it, for its tilt), so it can run in the
// same loop as the synthesis of subframe s + 1, and the processor then
// works on both chains at once. Every sample is computed by the same step
// as in the separate filters, so the output is identical.
#include "dimensions.h"
#include "postfilter/filter_steps.h"
#include "postfilter/postfilter.h"

namespace mervox {

void SynthesizeAndPostfilter(float synthesis[250], float postfiltered[250], const float excitation[240],
                             const float lpc[40], float& tilt)
{
    float* x = synthesis + kLpcOrder;
    float* y = postfiltered + kLpcOrder;

    for (int n = 0; n < kSubframeLength; ++n)
        x[n] = SynthesisStep(x + n, lpc, excitation[n]);

    for (int s = 1; s < kSubframes; ++s) {
        const int cur = kSubframeLength * s;        // subframe being synthesized
        const int prev = cur - kSubframeLength;     // subframe being postfiltered
        const float* a = lpc + kLpcOrder * s;
        const FormantSubframe f = PrepareFormantSubframe(x + prev, lpc + kLpcOrder * (s - 1), tilt);
        for (int n = 0; n < kSubframeLength; ++n) {
            x[cur + n] = SynthesisStep(x + cur + n, a, excitation[cur + n]);
            y[prev + n] = FormantStep(y + prev + n, x + prev + n, f);
        }
    }

    const int last = kFrameLength - kSubframeLength;
    const FormantSubframe f = PrepareFormantSubframe(x + last, lpc + kLpcOrder * (kSubframes - 1), tilt);
    for (int n = 0; n < kSubframeLength; ++n)
        y[last + n] = FormantStep(y + last + n, x + last + n, f);
}

}  // namespace mervox
