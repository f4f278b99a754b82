// Concealment of lost and faulty frames: voicing decision on the first bad
// frame of a run, periodic or noise excitation, and the noise generator.
#pragma once

#include <cstdint>

namespace mervox {

// Repetition lag of the recent excitation, or 0 when it is not voiced.
// window points at the last 120 past samples (window[-145] is readable);
// lagEstimate is the bad frame's second open-loop lag.
int32_t ClassifyLostFrame(const float* window, int32_t lagEstimate);

// Fills the current frame's excitation history (current[0..239], with
// current[-145..-1] the past) and the concealment excitation. An erasure
// count of 3 or more gives silence.
void RegenerateExcitation(float* current, float excitation[240], int32_t lag, float gain,
                          int32_t erasureCount, int16_t& seed);

// Linear congruential noise: seed = seed * 521 + 259 (mod 2^16), returned as
// a signed 16-bit value.
int16_t NextRandom(int16_t& seed);

}  // namespace mervox
