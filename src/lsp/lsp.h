// Spectral envelope: LSP vectors (10 ascending floats in units of pi/256
// radians per sample) and the LPC sets derived from them.
//
// LPC sign convention: synthesis is y[n] = x[n] + a[0]*y[n-1] + ... + a[9]*y[n-10].
#pragma once

#include <cstdint>

#include "codec_facts.h"

namespace mervox {

// Decodes the frame's LSP vector: prediction from prevLsp towards the mean,
// plus the band residuals on a good frame, then spacing. A nonzero badFrame
// selects the bad-frame constants and ignores the indices.
void DecodeLsp(float lsp[kLpcOrder], const float prevLsp[kLpcOrder], const int32_t lspIndex[3], int32_t badFrame);

// Four LPC sets (lpc[10*s .. 10*s+9] for subframe s) from the previous and
// current LSP vectors: for subframe s the LSP vector (cur - prev) * w_s +
// prev (w_s = 0.25, 0.5, 0.75, 1), converted into its LPC set. The sets
// are computed side by side, each exactly as it would be alone.
void InterpolateLsp(float lpc[kLpcSetsLength], const float curLsp[kLpcOrder], const float prevLsp[kLpcOrder]);

// The LPC sets of subframes `first` and first + 1 (first 0 or 2) alone:
// InterpolateLsp's sets lpc[10*first .. 10*first+19], into sets[0..19].
void InterpolateLspPair(float sets[2 * kLpcOrder], int first, const float curLsp[kLpcOrder],
                        const float prevLsp[kLpcOrder]);

}  // namespace mervox
