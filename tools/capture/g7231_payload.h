// Splits an RTP payload into G.723.1 frames. Several frames may follow one
// another; the two lowest bits of each frame's first byte give its type and
// so its length (mervox_frame_bytes).
#pragma once

#include <cstdint>
#include <vector>

#include "byte_view.h"
#include "mervox.h"

namespace mervox::capture {

enum class FrameType : uint8_t {
    kRate63 = MERVOX_FRAME_6300,                  // 24 bytes of 6.3 kbit/s speech
    kRate53 = MERVOX_FRAME_5300,                  // 20 bytes of 5.3 kbit/s speech
    kSilence = MERVOX_FRAME_SID,                  // 4-byte silence descriptor
    kUntransmitted = MERVOX_FRAME_UNTRANSMITTED,  // 1 byte, no data
};

inline bool IsSpeech(FrameType t) { return t == FrameType::kRate63 || t == FrameType::kRate53; }

// Length in bytes of a frame of this type.
inline size_t FrameBytes(FrameType t) { return mervox_frame_bytes(static_cast<uint8_t>(t)); }

struct FrameSlice {
    FrameType type;
    uint16_t offset;  // within the payload
};

// Appends the frames of `payload` to `frames`. Returns false when the last
// frame is cut short (the complete frames before it are still appended).
bool SplitFrames(ByteView payload, std::vector<FrameSlice>& frames);

// True when the payload is one or more whole frames and nothing else: its
// length is the sum of its frames' lengths.
bool IsWholeFrames(ByteView payload);

}  // namespace mervox::capture
