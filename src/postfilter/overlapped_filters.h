// The synthesis filter and the formant postfilter of one frame, overlapped,
// with room for work that does not wait on their chains.
//
// Each filter is a serial chain: every output sample needs the previous
// one, through a fixed-order double-precision sum. Run one after the other
// (the separate filters of tests/reference) the two chains take the sum of
// their lengths. But the postfilter of subframe s needs only subframe s of
// the synthesized speech (all of it, for its tilt), so it runs in the same
// loop as the synthesis of subframe s + 1, and the processor works on both
// chains at once. Every sample is computed by the same step as in the
// separate filters, so the output is identical.
//
// Two kinds of other work can share the loops, where the processor would
// otherwise wait on the chains: the 16-bit conversion of each subframe
// (kConvert), a pass after it is postfiltered, and whatever afterFirstPass()
// does once subframe 0 is synthesized (it may write the LPC sets of
// subframes 2 and 3, which are read only after it).
#pragma once

#include <cstdint>

#include "codec_facts.h"
#include "postfilter/filter_steps.h"
#include "postfilter/pcm16_convert.h"

namespace mervox {

template <bool kConvert, class AfterFirstPass>
inline void RunOverlappedFilters(float synthesis[kFilterMemoryLength], float postfiltered[kFilterMemoryLength],
                                 const float excitation[kFrameLength], const float lpc[kLpcSetsLength], float& tilt,
                                 int16_t output[kFrameLength], AfterFirstPass afterFirstPass)
{
    float* x = synthesis + kLpcOrder;
    float* y = postfiltered + kLpcOrder;
    RecentOutputs<kLpcOrder> recentX;
    RecentOutputs<kFormantOrder> recentY;
    recentX.Load(x);
    recentY.Load(y);

    // Pass s synthesizes subframe s (s < 4), postfilters subframe s - 1
    // (s > 0) and converts subframe s - 2 (s > 1). The tilt sums of a
    // subframe are gathered as its samples are synthesized, so the
    // postfilter can start on it in the next pass.
    TiltSums sums;
    SynthesisCoefficients c = MakeSynthesisCoefficients(lpc);
    for (int n = 0; n < kSubframeLength; ++n) {
        x[n] = SynthesisStep(recentX, c, excitation[n]);
        recentX.Push(x[n]);
        AddToTiltSums(sums, x, n);
    }
    afterFirstPass();

    for (int s = 1; s < kSubframes; ++s) {
        const int cur = kSubframeLength * s;     // first sample being synthesized
        const int prev = cur - kSubframeLength;  // first sample being postfiltered
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
            if (kConvert && done >= 0 && n % 4 == 0)
                ConvertPcm16Quad(output + done + n, y + done + n);
        }
    }

    const int last = kFrameLength - kSubframeLength;
    const int done = last - kSubframeLength;
    const FormantSubframe f = PrepareFormantSubframe(sums, lpc + kLpcOrder * (kSubframes - 1), tilt);
    for (int n = 0; n < kSubframeLength; ++n) {
        y[last + n] = FormantStep(recentY, x + last + n, f);
        recentY.Push(y[last + n]);
        if (kConvert && n % 4 == 0)
            ConvertPcm16Quad(output + done + n, y + done + n);
    }
    if (kConvert)
        for (int n = 0; n < kSubframeLength; n += 4)
            ConvertPcm16Quad(output + last + n, y + last + n);
}

}  // namespace mervox
