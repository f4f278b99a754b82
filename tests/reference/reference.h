// Straightforward forms of stages that the library computes in a faster,
// restructured way, for the tests that compare the two bit for bit and for
// the benchmarks; and the inverse of the unpacking. Not part of the library.
#pragma once

#include <cstdint>

#include "bitstream/bitstream.h"
#include "codec_facts.h"
#include "postfilter/postfilter.h"

namespace mervox::reference {

// All-pole synthesis of the frame: writes memory[10..249] from memory[0..9]
// (the previous frame's last outputs), the excitation and the four LPC sets.
void SynthesisFilter(float memory[kFilterMemoryLength], const float excitation[kFrameLength],
                     const float lpc[kLpcSetsLength]);

// Formant postfilter with tilt compensation: out[0..239] from speech[0..239]
// (out[-6..-1] and speech[-1] are the previous samples); updates tilt.
void FormantPostfilter(float* out, const float* speech, const float lpc[kLpcSetsLength], float& tilt);

// Converts an LSP vector into its LPC set, in place, one value at a time.
void LspToLpc(float v[kLpcOrder]);

// The LPC set of one subframe (0..3) alone: the LSP vector interpolated
// with the subframe's weight, then LspToLpc.
void InterpolateLspSet(float set[kLpcOrder], int subframe, const float curLsp[kLpcOrder],
                       const float prevLsp[kLpcOrder]);

// The pitch postfilter's choice for the subframe at x, one lag at a time:
// each correlation and energy a plain sum over the subframe.
PitchPostfilterParams ChoosePitchPostfilter(const float* x, int openLoopLag, int subframe);

// The frame's pitch postfilter (the choice of each subframe, applied).
void PitchPostfilter(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames]);

// Writes the fields of params into a frame of type `rate` (0: 24 bytes,
// 1: 20 bytes; the other bytes of frame are left as they are): the inverse
// of UnpackFrame for a good frame. Fields must hold values a frame can carry
// (lags 18..141, gain indices below the row count, a train flag only at
// 6.3 kbit/s below lag 58, sub[0] and sub[2] with lag offset 1).
void PackFrame(uint8_t frame[kMaxFrameBytes], const FrameParams& params, int rate);

}  // namespace mervox::reference
