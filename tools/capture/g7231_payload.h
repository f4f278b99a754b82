// Splits an RTP payload into G.723.1 frames. Several frames may follow one
// another; the two lowest bits of each frame's first byte give its type and
// so its length.
#pragma once

#include <cstdint>
#include <vector>

#include "byte_view.h"

namespace mervox::capture {

enum class FrameType : uint8_t {
    kRate63 = 0,         // 24 bytes of 6.3 kbit/s speech
    kRate53 = 1,         // 20 bytes of 5.3 kbit/s speech
    kSilence = 2,        // 4-byte silence descriptor
    kUntransmitted = 3,  // 1 byte, no data
};

// Frame length in bytes for each type.
constexpr size_t kFrameBytes[4] = {24, 20, 4, 1};

inline bool IsSpeech(FrameType t) { return t == FrameType::kRate63 || t == FrameType::kRate53; }

struct FrameSlice {
    FrameType type;
    uint16_t offset;  // within the payload
};

// Appends the frames of `payload` to `frames`. Returns false when the last
// frame is cut short (the complete frames before it are still appended).
bool SplitFrames(ByteView payload, std::vector<FrameSlice>& frames);

}  // namespace mervox::capture
