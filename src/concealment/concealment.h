// Concealment of lost and faulty frames: the count of the loss run, the
// voicing decision and the gain on its first frame, the periodic or noise
// excitation, and the noise generator.
#pragma once

#include <cstdint>

#include "codec_facts.h"

namespace mervox {

// The erasure count after a frame: 0 after a good frame (badFrame 0),
// otherwise one more than before, but at most 3.
int32_t CountErasure(int32_t erasureCount, int32_t badFrame);

// The excitation of a bad frame (erasureCount 1..3) in place of both
// codebooks and the pitch postfilter. On the first bad frame of a run it
// chooses concealLag (from lagEstimate, the frame's second open-loop lag) and
// concealGain: 0.875 if voiced, else the rms of the last 120 past samples; on
// later ones it attenuates the gain by 0.75. Then it fills the current frame
// of the excitation history (excitation[kHistoryLength..], the past before
// it) and pfExcitation.
void ConcealLostFrame(float excitation[kExcitationLength], float pfExcitation[kFrameLength], int32_t lagEstimate,
                      int32_t erasureCount, int32_t& concealLag, float& concealGain, int16_t& noiseSeed);

// Repetition lag of the recent excitation, or 0 when it is not voiced.
// window points at the last 120 past samples (window[-145] is readable);
// lagEstimate is the bad frame's second open-loop lag. windowEnergy
// receives the sum of the window's squares, in order (in double).
int32_t ClassifyLostFrame(const float* window, int32_t lagEstimate, double& windowEnergy);

inline int32_t ClassifyLostFrame(const float* window, int32_t lagEstimate)
{
    double windowEnergy = 0.0;
    return ClassifyLostFrame(window, lagEstimate, windowEnergy);
}

// Fills the current frame's excitation history (current[0..239], with
// current[-145..-1] the past) and the concealment excitation. An erasure
// count of 3 or more gives silence.
void RegenerateExcitation(float* current, float excitation[kFrameLength], int32_t lag, float gain, int32_t erasureCount,
                          int16_t& seed);

// Linear congruential noise: seed = seed * 521 + 259 (mod 2^16), returned as
// a signed 16-bit value.
int16_t NextRandom(int16_t& seed);

}  // namespace mervox
