// A good frame's synthesis filter, formant postfilter and output conversion,
// overlapped, with the last two LPC sets computed in the filters' shadow.
//
// The two recursive filters are serial chains (SynthesizeAndPostfilter
// already runs them side by side) and leave the processor idle between the
// steps of each chain. The conversion of a subframe needs only its finished
// output, and LPC sets 2 and 3 only the LSP vectors, so the loops that
// synthesize subframe s and postfilter subframe s - 1 also convert subframe
// s - 2, and sets 2 and 3 are computed after the first loop, a pass before
// they are needed. Every value is computed by the same step, in the same
// order, as in the separate stages.
//
// The pitch postfilter is not in these loops: its lag searches, with
// several lags side by side in vector lanes, take fewer instructions before
// the chains than in their loops, where they slowed the chains down.
#include "codec_facts.h"
#include "lsp/lsp.h"
#include "postfilter/filter_steps.h"
#include "postfilter/pcm16_convert.h"
#include "postfilter/postfilter.h"

namespace mervox {

void FilterGoodFrame(float synthesis[kFilterMemoryLength], float postfiltered[kFilterMemoryLength],
                     const float excitation[kFrameLength], const float curLsp[kLpcOrder],
                     const float prevLsp[kLpcOrder], float lpc[kLpcSetsLength], float& tilt,
                     int16_t output[kFrameLength])
{
    InterpolateLspPair(lpc, 0, curLsp, prevLsp);

    float* x = synthesis + kLpcOrder;
    float* y = postfiltered + kLpcOrder;
    RecentOutputs<kLpcOrder> recentX;
    RecentOutputs<kFormantOrder> recentY;
    recentX.Load(x);
    recentY.Load(y);

    TiltSums sums;
    SynthesisCoefficients c = MakeSynthesisCoefficients(lpc);
    for (int n = 0; n < kSubframeLength; ++n) {
        x[n] = SynthesisStep(recentX, c, excitation[n]);
        recentX.Push(x[n]);
        AddToTiltSums(sums, x, n);
    }
    InterpolateLspPair(lpc + 2 * kLpcOrder, 2, curLsp, prevLsp);

    // Pass s synthesizes subframe s, postfilters subframe s - 1 and
    // converts subframe s - 2.
    for (int s = 1; s < kSubframes; ++s) {
        const int cur = kSubframeLength * s;
        const int prev = cur - kSubframeLength;
        const int done = prev - kSubframeLength;
        const FormantSubframe f = PrepareFormantSubframe(sums, lpc + kLpcOrder * (s - 1), tilt);
        c = MakeSynthesisCoefficients(lpc + kLpcOrder * s);
        sums = TiltSums();
        for (int n = 0; n < kSubframeLength; ++n) {
            x[cur + n] = SynthesisStep(recentX, c, excitation[cur + n]);
            recentX.Push(x[cur + n]);
            AddToTiltSums(sums, x + cur, n);
            y[prev + n] = FormantStep(recentY, x + prev + n, f);
            recentY.Push(y[prev + n]);
            if (done >= 0 && n % 4 == 0)
                ConvertPcm16Quad(output + done + n, y + done + n);
        }
    }

    const int last = kFrameLength - kSubframeLength;
    const int done = last - kSubframeLength;
    const FormantSubframe f = PrepareFormantSubframe(sums, lpc + kLpcOrder * (kSubframes - 1), tilt);
    for (int n = 0; n < kSubframeLength; ++n) {
        y[last + n] = FormantStep(recentY, x + last + n, f);
        recentY.Push(y[last + n]);
        if (n % 4 == 0)
            ConvertPcm16Quad(output + done + n, y + done + n);
    }
    for (int n = 0; n < kSubframeLength; n += 4)
        ConvertPcm16Quad(output + last + n, y + last + n);
}

}  // namespace mervox
