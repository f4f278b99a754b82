// Frame layout of the G.723.1 dual-rate bitstream and its unpacking into the
// parameter record that every later stage works from.
#pragma once

#include <cstdint>

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
    int32_t badFrame;        // erasure flag plus one per fault found; nonzero = conceal
    int32_t lspIndex[3];     // band codebook rows: [0] LSP 0-2, [1] LSP 3-5, [2] LSP 6-9
    int32_t openLoopLag[2];  // per half frame; a faulty code (124..127) is kept raw
    SubframeParams sub[4];
};

// Bits of a frame are read least significant first from an expanded array
// holding one bit per entry. (UnpackFrame reads the same fields straight
// from the frame bytes.)
struct BitCursor {
    const uint8_t* bits;
    int position;
};

// Returns the next n bits (n <= 16) as an unsigned value, first bit least
// significant, and advances the cursor.
int ReadBits(BitCursor& cursor, int n);

// Fills params from the frame bytes (24 readable bytes for a rate-0 or type-0
// frame, 20 for a rate-1 frame). rate selects the field layout and gain-word
// decoding; erasureFlag is 1 for a lost frame (then frame is 24 zero bytes).
// Returns the frame length in bytes.
int UnpackFrame(FrameParams& params, const uint8_t* frame, int rate, int erasureFlag);

}  // namespace mervox
