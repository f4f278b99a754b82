// The synthesis filter and the formant postfilter of one frame, overlapped.
//
// Each filter is a serial chain: every output sample needs the previous
// one, through a fixed-order double-precision sum. Run one after the other
// (SynthesisFilter, then FormantPostfilter) the two chains take the sum of
// their lengths. But the postfilter of subframe s needs only subframe s of
// the synthesized speech (all of it, for its tilt), so it can run in the
// same loop as the synthesis of subframe s + 1, and the processor then
// works on both chains at once. Every sample is computed by the same step
// as in the separate filters (kept for the tests in tests/reference), so
// the output is identical.
#include "codec_facts.h"
#include "postfilter/filter_steps.h"
#include "postfilter/postfilter.h"

namespace mervox {

void SynthesizeAndPostfilter(float synthesis[kFilterMemoryLength], float postfiltered[kFilterMemoryLength],
                             const float excitation[kFrameLength], const float lpc[kLpcSetsLength], float& tilt)
{
    float* x = synthesis + kLpcOrder;
    float* y = postfiltered + kLpcOrder;
    RecentOutputs<kLpcOrder> recentX;
    RecentOutputs<kFormantOrder> recentY;
    recentX.Load(x);
    recentY.Load(y);

    // Pass s synthesizes subframe s (s < 4) and postfilters subframe s - 1
    // (s > 0). The tilt sums of a subframe are gathered as its samples are
    // synthesized, so the postfilter can start on it in the next pass.
    TiltSums sums;
    SynthesisCoefficients c = MakeSynthesisCoefficients(lpc);
    for (int n = 0; n < kSubframeLength; ++n) {
        x[n] = SynthesisStep(recentX, c, excitation[n]);
        recentX.Push(x[n]);
        AddToTiltSums(sums, x, n);
    }

    for (int s = 1; s < kSubframes; ++s) {
        const int cur = kSubframeLength * s;     // first sample being synthesized
        const int prev = cur - kSubframeLength;  // first sample being postfiltered
        const FormantSubframe f = PrepareFormantSubframe(sums, lpc + kLpcOrder * (s - 1), tilt);
        c = MakeSynthesisCoefficients(lpc + kLpcOrder * s);
        sums = TiltSums();
        for (int n = 0; n < kSubframeLength; ++n) {
            x[cur + n] = SynthesisStep(recentX, c, excitation[cur + n]);
            recentX.Push(x[cur + n]);
            AddToTiltSums(sums, x + cur, n);
            y[prev + n] = FormantStep(recentY, x + prev + n, f);
            recentY.Push(y[prev + n]);
        }
    }

    const int last = kFrameLength - kSubframeLength;
    const FormantSubframe f = PrepareFormantSubframe(sums, lpc + kLpcOrder * (kSubframes - 1), tilt);
    for (int n = 0; n < kSubframeLength; ++n) {
        y[last + n] = FormantStep(recentY, x + last + n, f);
        recentY.Push(y[last + n]);
    }
}

}  // namespace mervox
