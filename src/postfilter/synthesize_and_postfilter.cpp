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

    // Pass s synthesizes subframe s (s < 4) and postfilters subframe s - 1
    // (s > 0). The tilt sums of a subframe are gathered as its samples are
    // synthesized, so the postfilter can start on it at once in the next pass.
    TiltSums synthesized;
    for (int s = 0; s <= kSubframes; ++s) {
        const bool synthesize = s < kSubframes;
        const bool postfilter = s > 0;
        const int cur = kSubframeLength * s;      // first sample being synthesized
        const int prev = cur - kSubframeLength;   // first sample being postfiltered
        const float* a = lpc + kLpcOrder * s;
        FormantSubframe f = {};
        if (postfilter)
            f = PrepareFormantSubframe(synthesized, a - kLpcOrder, tilt);
        synthesized = TiltSums();
        for (int n = 0; n < kSubframeLength; ++n) {
            if (synthesize) {
                x[cur + n] = SynthesisStep(x + cur + n, a, excitation[cur + n]);
                AddToTiltSums(synthesized, x + cur, n);
            }
            if (postfilter)
                y[prev + n] = FormantStep(y + prev + n, x + prev + n, f);
        }
    }
}

}  // namespace mervox
