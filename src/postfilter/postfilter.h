// Pitch postfilter, LPC synthesis, formant postfilter and 16-bit output.
#pragma once

#include <cstdint>

#include "codec_facts.h"
#include "postfilter/filter_lanes.h"

namespace mervox {

struct PitchPostfilterParams {
    int32_t lag;  // < 0: into the past; > 0: a later sample of this frame; 0: none
    float gain;   // weight of x[n + lag]
    float scale;  // weight of x[n]
};

// The pitch postfilter of a good frame: for each subframe, the lag, gain
// and scale chosen on the frame's finished excitation x[0..239] (x[-145..-1]
// the history), applied: pfExcitation[n] = x[n] * scale + x[n + lag] * gain.
// The variant (a supported one) sets how many lags the search computes side
// by side (pitch_search.h); the result is the same with each.
void PitchPostfilter(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames],
                     LaneVariant variant);

// Chooses the postfilter of subframe `subframe`, x pointing at its first
// excitation sample (x[-145] .. the frame's last sample are readable).
PitchPostfilterParams ComputePitchPostfilter(const float* x, int openLoopLag, int subframe);

// Gain and scale for a chosen lag from the subframe energy e0, the
// correlation r at the lag and the lagged segment's energy e1.
PitchPostfilterParams ComputePitchGains(int lag, float e0, float r, float e1);

// The all-pole synthesis filter and the formant postfilter with tilt
// compensation, overlapped (see synthesize_and_postfilter.cpp). Writes
// synthesis[10..249] from synthesis[0..9] (the previous frame's last
// outputs), the excitation and the four LPC sets, and postfiltered[10..249]
// from the synthesized speech and postfiltered[4..9]; updates tilt.
void SynthesizeAndPostfilter(float synthesis[kFilterMemoryLength], float postfiltered[kFilterMemoryLength],
                             const float excitation[kFrameLength], const float lpc[kLpcSetsLength], float& tilt);

// A good frame from its pitch-postfiltered excitation to its 16-bit output:
// the LPC sets (InterpolateLsp into lpc), SynthesizeAndPostfilter and
// ConvertToPcm16, with the same result in less time. The arguments are
// those of the functions it stands for.
void FilterGoodFrame(float synthesis[kFilterMemoryLength], float postfiltered[kFilterMemoryLength],
                     const float excitation[kFrameLength], const float curLsp[kLpcOrder],
                     const float prevLsp[kLpcOrder], float lpc[kLpcSetsLength], float& tilt,
                     int16_t output[kFrameLength]);

// Rounds to nearest (halves away from zero) and saturates to 16 bits.
void ConvertToPcm16(int16_t output[kFrameLength], const float input[kFrameLength]);

}  // namespace mervox
