// The codec's facts: frame structure, frame lengths, lags, windows and table
// sizes, each written once. Where a number follows from others it is derived
// here, so that the relation is visible.
#pragma once

#include <cstdint>

#include "mervox.h"

namespace mervox {

// Frame structure.
constexpr int kFrameLength = MERVOX_FRAME_SAMPLES;          // samples per 30 ms frame at 8 kHz
constexpr int kSubframes = 4;                               // each with its own LPC set and codebook entries
constexpr int kSubframeLength = kFrameLength / kSubframes;  // 60
constexpr int kHalfFrames = 2;                              // subframes 0-1 and 2-3 share an open-loop lag
constexpr int kLpcOrder = 10;                               // LSP and LPC coefficients per set
constexpr int kLpcSetsLength = kSubframes * kLpcOrder;      // one frame's four LPC sets

// Rate codes, also bit 0 of a frame's first byte (MERVOX_FRAME_6300/5300).
constexpr int kRate63 = MERVOX_FRAME_6300;  // 24-byte frames, multipulse excitation
constexpr int kRate53 = MERVOX_FRAME_5300;  // 20-byte frames, algebraic excitation

// Bytes of a frame by its type (the two low bits of the first byte): 6.3 and
// 5.3 kbit/s speech, silence descriptor, untransmitted. The library's one
// table of frame lengths; mervox_frame_bytes() exports it.
constexpr uint8_t kFrameBytesByType[4] = {24, 20, 4, 1};
constexpr int kMaxFrameBytes = kFrameBytesByType[MERVOX_FRAME_6300];  // the decoder's private frame copy
static_assert(kMaxFrameBytes == MERVOX_MAX_FRAME_BYTES, "mervox.h and the frame table disagree");
// Bytes the decoder reads of a frame: those of the speech frame of the rate
// in bit 0 of its first byte, 24 or 20 (types 2 and 3 are read with the
// layout of their rate, and concealed).
inline int RateFrameBytes(uint8_t firstByte) { return kFrameBytesByType[firstByte & 1]; }

// Lags, in samples.
constexpr int kMinLag = 18;                                   // open-loop lag of code 0 (7-bit lag codes)
constexpr int kLagCodeLimit = 124;                            // codes 124..127 name no lag: the frame is faulty
constexpr int kMaxOpenLoopLag = kMinLag + kLagCodeLimit - 1;  // 141
// Open-loop lags below 58 select the 85-row pitch taps and allow pulse
// trains at 6.3 kbit/s; closed-loop lags below 58 get pitch sharpening at
// 5.3 kbit/s.
constexpr int kShortLagLimit = 58;
// The pitch postfilter and the concealment search 3 lags either side of the
// open-loop lag, which they first limit to 142.
constexpr int kMaxCentreLag = 142;
constexpr int kSearchHalfWidth = 3;
constexpr int kSearchLags = 2 * kSearchHalfWidth + 1;  // 7 candidates
// 145: the farthest any stage reads back from a subframe or window. The
// adaptive codebook reaches as far: closed-loop lag up to 141 + 3 - 1 = 143
// (lag offset 0..3), plus 2 for its five taps.
constexpr int kLongestLag = kMaxCentreLag + kSearchHalfWidth;

// Windows.
constexpr int kAnalysisWindow = 120;  // recent excitation the concealment analyses (voicing, loss-run gain)

// Histories: the excitation keeps the longest lag before the analysis window,
// so that the window compared with its copy kLongestLag earlier stays inside.
constexpr int kHistoryLength = kLongestLag + kAnalysisWindow;  // 265
constexpr int kExcitationLength = kHistoryLength + kFrameLength;
constexpr int kFilterMemoryLength = kLpcOrder + kFrameLength;  // last outputs of the previous frame, then this one

// Tables.
constexpr int kLspBandRows = 256;                          // rows of each LSP band codebook (8-bit index)
constexpr int kCosineTableLength = 512;                    // one period of the cosine
constexpr int kPitchTaps = 5;                              // taps of the adaptive-codebook filter
constexpr int kPitchTapRowsShort = 85;                     // rows at 6.3 kbit/s below kShortLagLimit
constexpr int kPitchTapRowsLong = 170;                     // rows otherwise
constexpr int kFixedGains = 24;                            // fixed-codebook amplitudes (ampIndex 0..23)
constexpr int kMultipulsePositions = kSubframeLength / 2;  // positions on one grid of a 6.3 kbit/s subframe
constexpr int kMaxPulses = 6;                              // pulses of an even 6.3 kbit/s subframe (5 in odd ones)
constexpr int kFormantOrder = 6;                           // taps of the formant postfilter

static_assert(kMaxOpenLoopLag + 3 - 1 + kPitchTaps / 2 == kLongestLag, "the adaptive codebook reads past the history");

}  // namespace mervox
