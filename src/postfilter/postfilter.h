// Pitch postfilter, LPC synthesis, formant postfilter and 16-bit output.
#pragma once

#include <cstdint>

namespace mervox {

struct PitchPostfilterParams {
    int32_t lag;  // < 0: into the past; > 0: a later sample of this frame; 0: none
    float gain;   // weight of x[n + lag]
    float scale;  // weight of x[n]
};

// Chooses the postfilter of subframe `subframe`, x pointing at its first
// excitation sample (x[-145] .. the frame's last sample are readable).
PitchPostfilterParams ComputePitchPostfilter(const float* x, int openLoopLag, int subframe);

// Gain and scale for a chosen lag from the subframe energy e0, the
// correlation r at the lag and the lagged segment's energy e1.
PitchPostfilterParams ComputePitchGains(int lag, float e0, float r, float e1);

// All-pole synthesis of the frame: writes memory[10..249] from memory[0..9]
// (the previous frame's last outputs), the excitation and the four LPC sets.
void SynthesisFilter(float memory[250], const float excitation[240], const float lpc[40]);

// Formant postfilter with tilt compensation: out[0..239] from speech[0..239]
// (out[-6..-1] and speech[-1] are the previous samples); updates tilt.
void FormantPostfilter(float* out, const float* speech, const float lpc[40], float& tilt);

// SynthesisFilter(synthesis, excitation, lpc) followed by
// FormantPostfilter(postfiltered + 10, synthesis + 10, lpc, tilt), with the
// same result, in less time: the two recursions are overlapped.
void SynthesizeAndPostfilter(float synthesis[250], float postfiltered[250], const float excitation[240],
                             const float lpc[40], float& tilt);

// Rounds to nearest (halves away from zero) and saturates to 16 bits.
void ConvertToPcm16(int16_t output[240], const float input[240]);

}  // namespace mervox
