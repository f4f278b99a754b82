// Whether a decoder's whole history is finite: every value a frame leaves
// for the next one, checked one by one (the decoder's own check at the end
// of a frame is faster and looks only at what it must).
#pragma once

#include <cmath>

#include "interface/decoder_state.h"

namespace mervox::fuzz {

inline bool AllFinite(const float* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i]))
            return false;
    return true;
}

inline bool StateIsFinite(const DecoderState& s)
{
    return AllFinite(s.excitation, kExcitationLength) && AllFinite(s.synthesisMemory, kFilterMemoryLength) &&
           AllFinite(s.postfilterMemory, kFilterMemoryLength) && AllFinite(s.prevLsp, kLpcOrder) &&
           std::isfinite(s.postfilterTilt) && std::isfinite(s.concealGain);
}

}  // namespace mervox::fuzz
