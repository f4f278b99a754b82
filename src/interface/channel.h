// A decoder as a host sees it: the decoder state plus the private frame copy,
// the output frame and the rate remembered for lost frames. The output frame
// is DecodeChannelFrame's working copy (written in full before it is read);
// DecodeChannelFrames writes straight to the caller's outputs instead.
#pragma once

#include <cstdint>

#include "interface/decoder_state.h"
#include "postfilter/filter_lanes.h"

namespace mervox {

struct Channel {
    DecoderState state;
    uint8_t frameBuffer[kMaxFrameBytes] = {};
    int16_t outputBuffer[kFrameLength] = {};
    int32_t currentRate = kRate63;
    // The widest lag search this processor runs (the result is the same
    // with each).
    LaneVariant pitchVariant = BestLaneVariant();
};

// Decodes `frame` (or conceals a lost one when it is null) into output[240];
// returns 12 or 10 (16-bit words of the frame) or 1 for a lost frame.
int16_t DecodeChannelFrame(Channel& channel, const uint8_t* frame, int16_t* output);

// The start of DecodeChannelFrame: copies the frame into the channel (or
// clears the copy for a lost frame, badFlag 1) and returns the words it
// occupies (12 or 10; 1 for a lost frame).
int16_t TakeChannelFrame(Channel& channel, const uint8_t* frame, int& badFlag);

// One frame for each of channels[0..count-1] (count at most
// kMaxChannelBatch, no channel twice): the results, outputs and states of
// DecodeChannelFrame on each, with the filters of all of them run side by
// side by the given lane kernel.
constexpr int kMaxChannelBatch = 16;
void DecodeChannelFrames(Channel* const channels[], const uint8_t* const frames[], int16_t* const outputs[],
                         int16_t words[], int count, LaneVariant variant);

// Starts a new stream; selector 0 (low 16 bits) assumes 5.3 kbit/s for
// frames lost before the first one arrives, anything else 6.3 kbit/s.
void ResetChannel(Channel& channel, int32_t selector);

}  // namespace mervox
