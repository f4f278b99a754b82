// Frame structure shared by every stage.
#pragma once

namespace mervox {

constexpr int kFrameLength = 240;     // samples per 30 ms frame at 8 kHz
constexpr int kSubframeLength = 60;   // four subframes per frame
constexpr int kSubframes = 4;
constexpr int kLpcOrder = 10;
constexpr int kHistoryLength = 265;   // past excitation the codebooks and concealment reach back into
constexpr int kExcitationLength = kHistoryLength + kFrameLength;
constexpr int kFilterMemoryLength = kLpcOrder + kFrameLength;

// Rate codes, also bit 0 of a frame's first byte.
constexpr int kRate63 = 0;  // 24-byte frames, multipulse excitation
constexpr int kRate53 = 1;  // 20-byte frames, algebraic excitation

}  // namespace mervox
