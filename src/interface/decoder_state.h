// The persistent state of one decoder and its per-frame operation.
#pragma once

#include <cstdint>

#include "dimensions.h"

namespace mervox {

// History arrays put the past in front of the present: excitation[0..264] is
// past excitation (264 the newest), excitation[265..504] the frame being
// decoded; the filter memories hold the previous frame's last ten outputs in
// [0..9] and the current frame in [10..249]. All move by one frame at the end
// of every frame, good or bad.
class DecoderState {
public:
    // Clears everything, so that a host that never resets decodes from
    // silence rather than from undefined memory.
    DecoderState();

    // Back to the start of a stream.
    void Reset();

    // Decodes (badFlag 0) or conceals (badFlag 1, frame all zero) one frame
    // into 240 samples. frame is the decoder's private copy: 24 bytes.
    void DecodeFrame(int16_t output[240], const uint8_t frame[24], int rate, int badFlag);

    int32_t erasureCount;   // consecutive bad frames up to this one, 0..3
    float postfilterTilt;   // smoothed tilt of the formant postfilter
    int16_t noiseSeed;      // concealment noise generator
    int32_t concealLag;     // repetition lag of the current loss run; 0 = unvoiced
    float concealGain;      // gain of the concealment excitation
    float prevLsp[10];
    float excitation[kExcitationLength];
    float synthesisMemory[kFilterMemoryLength];
    float postfilterMemory[kFilterMemoryLength];
};

}  // namespace mervox
