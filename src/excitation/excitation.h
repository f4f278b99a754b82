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

// Writes the pitch contribution into x[0..59]; reads x[-145..-1]. Where the
// lag is shorter than the subframe plus the filter's reach (lag < 62), the
// filter reads the last `lag` samples before x repeated periodically.
void DecodeAdaptiveCodebook(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate);

// Both codebooks of one subframe at once: x[n] = pitch contribution (a
// float, as DecodeAdaptiveCodebook stores it) + fixed[n], rounded to float;
// the same as DecodeAdaptiveCodebook followed by DecodeFixedCodebook.
void DecodeCodebooks(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate,
                     const float fixed[kSubframeLength]);

// v[n] += g * v[n - lag] for n = lag..59, upward in place, so each pulse
// repeats at every multiple of lag. Nothing when lag >= 60.
void AddPitchComb(float v[kSubframeLength], int lag, float g);

// 64 entries: 5.3 kbit/s tracks 2 and 3 can name positions 60..63, which
// land in v[60..63] harmlessly and never reach the excitation.
constexpr int kPulseVectorLength = 64;

// The fixed-codebook vector of `subframe`: v[0..59] (v[60..63] scratch).
void MakeFixedCodebookVector(float v[kPulseVectorLength], const FrameParams& params, int rate, int subframe);

// Adds the fixed-codebook vector of `subframe` to x[0..59].
void DecodeFixedCodebook(float* x, const FrameParams& params, int rate, int subframe);

}  // namespace mervox
