// The persistent state of one decoder and its per-frame operation.
#pragma once

#include <cstdint>

#include "codec_facts.h"
#include "postfilter/filter_lanes.h"

namespace mervox {

// What the first part of a frame's decoding (unpacking, LSP, excitation or
// concealment) hands to the filters and to the end of the frame.
struct FrameWork {
    float curLsp[kLpcOrder];           // this frame's LSP vector
    float lpc[kLpcSetsLength];         // LPC set s for subframe s (see BeginFrame)
    float pfExcitation[kFrameLength];  // the synthesis filter's input (see BeginFrame)
    int32_t openLoopLag[kHalfFrames];  // for a good frame's pitch postfilter
    bool good;                         // decoded, not concealed (erasureCount 0)
};

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
    // pitchVariant as for BeginFrame. (decode_frame.cpp)
    void DecodeFrame(int16_t output[kFrameLength], const uint8_t frame[kMaxFrameBytes], int rate, int badFlag,
                     LaneVariant pitchVariant = LaneVariant::kSse2);

    // The end of every frame: each history moves on by one frame and curLsp
    // becomes prevLsp; a state that has left the float range is then reset.
    // (decoder_state.cpp)
    void AdvanceFrame(const float curLsp[kLpcOrder]);

    // The first part of DecodeFrame, also for hosts of many decoders that
    // run the filters of several frames side by side: unpacking, erasure
    // count, LSP, and the excitation (into the history) and its pitch
    // postfilter (into work.pfExcitation), or the concealment (into both).
    // With lpcSets, also a good frame's LPC sets (work.lpc); without, they
    // are left to FilterGoodFrame. Then the filters must
    // write the output, postfilterTilt and the last ten samples of
    // synthesisMemory and postfilterMemory as SynthesizeAndPostfilter and
    // ConvertToPcm16 do (the rest of the memories is their working space),
    // and AdvanceFrame(work.curLsp) ends the frame. pitchVariant is the
    // (supported) vector variant of the pitch postfilter's lag search; the
    // result is the same with each. (decode_frame.cpp)
    void BeginFrame(FrameWork& work, const uint8_t frame[kMaxFrameBytes], int rate, int badFlag, bool lpcSets,
                    LaneVariant pitchVariant = LaneVariant::kSse2);

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
