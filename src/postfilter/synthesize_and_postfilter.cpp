// The synthesis filter and the formant postfilter of one frame, overlapped
// (overlapped_filters.h), without the output conversion.
#include "postfilter/overlapped_filters.h"
#include "postfilter/postfilter.h"

namespace mervox {

void SynthesizeAndPostfilter(float synthesis[kFilterMemoryLength], float postfiltered[kFilterMemoryLength],
                             const float excitation[kFrameLength], const float lpc[kLpcSetsLength], float& tilt)
{
    RunOverlappedFilters<false>(synthesis, postfiltered, excitation, lpc, tilt, nullptr, [] {});
}

}  // namespace mervox
