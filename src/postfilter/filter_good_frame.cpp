// A good frame's pitch postfilter, synthesis filter, formant postfilter and
// output conversion, overlapped.
//
// The two recursive filters are serial chains (SynthesizeAndPostfilter
// already runs them side by side) and leave most of the processor idle.
// The rest of the frame's filtering does not depend on their outputs: the
// lag search of a subframe reads only the unfiltered excitation, and the
// conversion of a subframe only its finished output. So the loops that
// synthesize subframe s and postfilter subframe s - 1 also run the lag
// searches of later subframes and convert subframe s - 2, and the
// processor does that work in the chains' shadow. So does the conversion
// of the last two LPC sets, each a pass before its subframe. Every value is
// computed by the same step, in the same order, as in the separate stages.
#include "codec_facts.h"
#include "lsp/lsp.h"
#include "postfilter/filter_steps.h"
#include "postfilter/pcm16_convert.h"
#include "postfilter/pitch_search.h"
#include "postfilter/postfilter.h"

namespace mervox {

void FilterGoodFrame(float synthesis[250], float postfiltered[250], const float* x, const int32_t openLoopLag[2],
                     const float curLsp[10], const float prevLsp[10], float lpc[40], float& tilt, int16_t output[240])
{
    // The LPC sets of subframes 0 and 1 now; those of subframes 2 and 3
    // after the loop of subframe 0, a pass before they are needed.
    InterpolateLspPair(lpc, 0, curLsp, prevLsp);

    float* xs = synthesis + kLpcOrder;
    float* y = postfiltered + kLpcOrder;
    RecentOutputs<kLpcOrder> recentX;
    RecentOutputs<kFormantOrder> recentY;
    recentX.Load(xs);
    recentY.Load(y);

    // Subframe 0's postfilter comes first: the synthesis starts with it.
    // The lag searches of subframes 1 and 2 run in the loop of subframe 0,
    // that of subframe 3 in the loop of subframe 1: each search is finished
    // a pass before its result is needed (but for subframe 1's), so the
    // lag choice and its gains run in the chains' shadow too.
    // The searches read the excitation converted to double once.
    PitchExcitation e;
    LoadPitchExcitation<PitchLanes2>(e, x, 0);
    PitchPostfilterParams p[kSubframes];
    PitchSearch search[2];
    search[0].Start(e, openLoopLag[0], 0);
    // One direction at a time: both at once do not fit the registers. (The
    // first subframe always has forward candidates.)
    for (int n = 0; n < kSubframeLength; ++n)
        search[0].AddBackwardSample(n);
    for (int n = 0; n < kSubframeLength; ++n)
        search[0].AddForwardSample(n);
    p[0] = search[0].Finish();
    search[0].Start(e, openLoopLag[0], 1);
    search[1].Start(e, openLoopLag[1], 2);
    TiltSums sums;
    SynthesisCoefficients c = MakeSynthesisCoefficients(lpc);
    for (int n = 0; n < kSubframeLength; ++n) {
        xs[n] = SynthesisStep(recentX, c, PitchPostfilteredSample(x, p[0], n));
        recentX.Push(xs[n]);
        AddToTiltSums(sums, xs, n);
        search[0].AddSample(n);
        search[1].AddSample(n);
    }
    FinishPitchSearches<2>(search, p + 1);
    search[0].Start(e, openLoopLag[1], 3);
    InterpolateLspPair(lpc + 2 * kLpcOrder, 2, curLsp, prevLsp);

    // Pass s synthesizes subframe s, postfilters subframe s - 1, converts
    // subframe s - 2 and (s = 1) searches the lag of subframe 3.
    for (int s = 1; s < kSubframes; ++s) {
        const int cur = kSubframeLength * s;
        const int prev = cur - kSubframeLength;
        const int done = prev - kSubframeLength;
        const bool searching = s == 1;
        const FormantSubframe f = PrepareFormantSubframe(sums, lpc + kLpcOrder * (s - 1), tilt);
        c = MakeSynthesisCoefficients(lpc + kLpcOrder * s);
        sums = TiltSums();
        for (int n = 0; n < kSubframeLength; ++n) {
            xs[cur + n] = SynthesisStep(recentX, c, PitchPostfilteredSample(x + cur, p[s], n));
            recentX.Push(xs[cur + n]);
            AddToTiltSums(sums, xs + cur, n);
            y[prev + n] = FormantStep(recentY, xs + prev + n, f);
            recentY.Push(y[prev + n]);
            if (searching)
                search[0].AddBackwardSample(n);
            if (done >= 0 && n % 4 == 0)
                ConvertPcm16Quad(output + done + n, y + done + n);
        }
        if (searching)
            p[3] = search[0].Finish();
    }

    const int last = kFrameLength - kSubframeLength;
    const int done = last - kSubframeLength;
    const FormantSubframe f = PrepareFormantSubframe(sums, lpc + kLpcOrder * (kSubframes - 1), tilt);
    for (int n = 0; n < kSubframeLength; ++n) {
        y[last + n] = FormantStep(recentY, xs + last + n, f);
        recentY.Push(y[last + n]);
        if (n % 4 == 0)
            ConvertPcm16Quad(output + done + n, y + done + n);
    }
    for (int n = 0; n < kSubframeLength; n += 4)
        ConvertPcm16Quad(output + last + n, y + last + n);
}

}  // namespace mervox
