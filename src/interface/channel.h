// A decoder as a host sees it: the decoder state plus the private frame copy,
// the output frame and the rate remembered for lost frames.
#pragma once

#include <cstdint>

#include "interface/decoder_state.h"

namespace mervox {

struct Channel {
    DecoderState state;
    uint8_t frameBuffer[kMaxFrameBytes] = {};
    int16_t outputBuffer[kFrameLength] = {};
    int32_t currentRate = kRate63;
};

// Bytes the decoder copies for a frame: 24 or 20, from bit 0 of its first
// byte (types 2 and 3 are read as the speech frame of their rate).
inline int FrameBytes(uint8_t firstByte) { return kFrameBytesByType[firstByte & 1]; }

// Decodes `frame` (or conceals a lost one when it is null) into output[240];
// returns 12 or 10 (16-bit words of the frame) or 1 for a lost frame.
int16_t DecodeChannelFrame(Channel& channel, const uint8_t* frame, int16_t* output);

// Starts a new stream; selector 0 (low 16 bits) assumes 5.3 kbit/s for
// frames lost before the first one arrives, anything else 6.3 kbit/s.
void ResetChannel(Channel& channel, int32_t selector);

}  // namespace mervox
