// Excitation of a good frame's subframe: adaptive-codebook (pitch)
// contribution, then the fixed-codebook pulses added on top.
//
// x points at the subframe's first sample inside the excitation history, so
// x[-1], x[-2], ... are earlier samples (earlier subframes, earlier frames).
#pragma once

#include <cstdint>

#include "bitstream/bitstream.h"
#include "codec_facts.h"

namespace mervox {

// The excitation of a good frame: for subframe 0, 1, 2, 3 in turn the
// adaptive-codebook contribution, then the fixed-codebook pulses added, so
// that each subframe reads the finished ones before it. x points at the
// frame's first sample in the excitation history (x[-145..-1] readable).
void DecodeExcitation(float* x, const FrameParams& params, int rate);

// Repeats the last `lag` samples before x periodically over the samples of
// the subframe that the five-tap filter reads (x[0 .. 61 - lag]); nothing
// when lag >= 62.
void ExtendResidual(float* x, int lag);

// Writes the pitch contribution into x[0..59]; reads x[-145..-1].
void DecodeAdaptiveCodebook(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate);

// v[n] += g * v[n - lag] for n = lag..59, upward in place, so each pulse
// repeats at every multiple of lag. Nothing when lag >= 60.
void AddPitchComb(float v[kSubframeLength], int lag, float g);

// Adds the fixed-codebook vector of `subframe` to x[0..59].
void DecodeFixedCodebook(float* x, const FrameParams& params, int rate, int subframe);

}  // namespace mervox
