// A good frame's synthesis filter, formant postfilter and output conversion,
// overlapped (overlapped_filters.h), with LPC sets 2 and 3 computed after
// the first pass, a pass before they are needed, in the filters' shadow.
//
// The pitch postfilter is not in these loops: its lag searches, with
// several lags side by side in vector lanes, take fewer instructions before
// the chains than in their loops, where they slowed the chains down.
#include "lsp/lsp.h"
#include "postfilter/overlapped_filters.h"
#include "postfilter/postfilter.h"

namespace mervox {

void FilterGoodFrame(float synthesis[kFilterMemoryLength], float postfiltered[kFilterMemoryLength],
                     const float excitation[kFrameLength], const float curLsp[kLpcOrder],
                     const float prevLsp[kLpcOrder], float lpc[kLpcSetsLength], float& tilt,
                     int16_t output[kFrameLength])
{
    InterpolateLspPair(lpc, 0, curLsp, prevLsp);
    RunOverlappedFilters<true>(synthesis, postfiltered, excitation, lpc, tilt, output,
                               [&] { InterpolateLspPair(lpc + 2 * kLpcOrder, 2, curLsp, prevLsp); });
}

}  // namespace mervox
