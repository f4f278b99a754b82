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
// current LSP vectors.
void InterpolateLsp(float lpc[kLpcSetsLength], const float curLsp[kLpcOrder], const float prevLsp[kLpcOrder]);

// The LPC set of one subframe (0..3) alone: InterpolateLsp's set
// lpc[10*subframe ..].
void InterpolateLspSet(float set[10], int subframe, const float curLsp[10], const float prevLsp[10]);

// Converts an LSP vector into its LPC set, in place.
void LspToLpc(float v[kLpcOrder]);

}  // namespace mervox
