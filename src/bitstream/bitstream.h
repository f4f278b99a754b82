// Frame layout of the G.723.1 dual-rate bitstream and its unpacking into the
// parameter record that every later stage works from.
#pragma once

#include <cstdint>

#include "codec_facts.h"

namespace mervox {

struct SubframeParams {
    int32_t lagOffset;       // closed-loop lag = openLoopLag + lagOffset - 1; 1 in subframes 0 and 2
    int32_t gainIndex;       // adaptive-codebook gain row (and 5.3 kbit/s sharpening row)
    int32_t trainFlag;       // 6.3 kbit/s pulse train on/off
    int32_t ampIndex;        // fixed-codebook amplitude, 0..23
    int32_t grid;            // 0 = even pulse positions, 1 = odd
    int32_t pulseSigns;      // sign bits of the fixed-codebook pulses
    int32_t pulsePositions;  // position code of the fixed-codebook pulses
};

struct FrameParams {
    int32_t badFrame;                  // erasure flag plus one per fault found; nonzero = conceal
    int32_t lspIndex[3];               // band codebook rows: [0] LSP 0-2, [1] LSP 3-5, [2] LSP 6-9
    int32_t openLoopLag[kHalfFrames];  // per half frame; a faulty code (124..127) is kept raw
    SubframeParams sub[kSubframes];
};

// Fills params from the frame bytes (24 readable bytes for a rate-0 or type-0
// frame, 20 for a rate-1 frame). Bit i of the frame is bit i % 8 of byte
// i / 8, and a field's first bit is its least significant. rate selects the field layout and gain-word
// decoding; erasureFlag is 1 for a lost frame (then frame is 24 zero bytes).
// Returns the frame length in bytes.
int UnpackFrame(FrameParams& params, const uint8_t* frame, int rate, int erasureFlag);

}  // namespace mervox
