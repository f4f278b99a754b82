// Constant tables of the decoder. All values are floats (or small integers)
// fixed at build time; see src/tables/generator for how the G.723.1 integer tables
// become these floats.
#pragma once

#include <cstdint>

#include "codec_facts.h"

namespace mervox {

// LSP quantiser: mean vector and the three band codebooks, in units of
// pi/256 radians per sample. Band 0 adds to LSP elements 0-2, band 1 to 3-5,
// band 2 to 6-9.
extern const float LspMeanTable[kLpcOrder];
extern const float LspBandTable0[kLspBandRows][3];
extern const float LspBandTable1[kLspBandRows][3];
extern const float LspBandTable2[kLspBandRows][4];

// One period of the cosine: entry k is cos(2*pi*k/512).
extern const float CosineTable[kCosineTableLength];

// Share of the current frame's LSP vector in subframes 0..3.
extern const float LspInterpolationWeights[kSubframes];

// Five tap gains g0..g4 per row of the adaptive codebook; 85 rows for
// 6.3 kbit/s frames with open-loop lag below 58, 170 rows otherwise.
extern const float PitchTapTable85[kPitchTapRowsShort][kPitchTaps];
extern const float PitchTapTable170[kPitchTapRowsLong][kPitchTaps];

// Fixed-codebook pulse amplitudes (the G.723.1 gains doubled).
extern const float FixedGainTable[kFixedGains];

// Enumerative code of the multipulse positions: entry [r][j] is
// C(29 - j, 5 - r), or 0 where 29 - j < 5 - r.
extern const int32_t PulseCombinationTable[kMaxPulses][kMultipulsePositions];

// 5.3 kbit/s pitch sharpening, indexed by the subframe's gain index: comb
// gain, and lag correction (-2..2, or 60 for "no sharpening").
extern const float SharpeningGainTable[kPitchTapRowsLong];
extern const int32_t SharpeningLagTable[kPitchTapRowsLong];

// Formant postfilter weights, entry k = 0.135^k (entry 0 unused).
extern const float FormantWeightTable[kFormantOrder + 1];

}  // namespace mervox
