// The persistent state of one decoder and its per-frame operation.
#pragma once

#include <cstdint>

#include "codec_facts.h"

namespace mervox {

// History arrays put the past in front of the present: excitation[0..264] is
// past excitation (264 the newest), excitation[265..504] the frame being
// decoded; the filter memories hold the previous frame's last ten outputs in
// [0..9] and the current frame in [10..249]. All move by one frame at the end
// of every frame, good or bad.
class DecoderState {
public:
    // Clears everything, so that a host that never resets decodes from
    // silence rather than from undefined memory. (decoder_state.cpp)
    DecoderState();

    // Back to the start of a stream. (decoder_state.cpp)
    void Reset();

    // Decodes (badFlag 0) or conceals (badFlag 1, frame all zero) one frame
    // into 240 samples. frame is the decoder's private copy: 24 bytes.
    // (decode_frame.cpp)
    void DecodeFrame(int16_t output[kFrameLength], const uint8_t frame[kMaxFrameBytes], int rate, int badFlag);

    // The end of every frame: each history moves on by one frame and curLsp
    // becomes prevLsp; a state that has left the float range is then reset.
    // (decoder_state.cpp)
    void AdvanceFrame(const float curLsp[kLpcOrder]);

    int32_t erasureCount;  // consecutive bad frames up to this one, 0..3
    float postfilterTilt;  // smoothed tilt of the formant postfilter
    int16_t noiseSeed;     // concealment noise generator
    int32_t concealLag;    // repetition lag of the current loss run; 0 = unvoiced
    float concealGain;     // gain of the concealment excitation
    float prevLsp[kLpcOrder];
    float excitation[kExcitationLength];
    float synthesisMemory[kFilterMemoryLength];
    float postfilterMemory[kFilterMemoryLength];
};

}  // namespace mervox
