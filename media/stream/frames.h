// G.723.1 frame types as the tools see them, from the library's constants
// (include/mervox.h holds the lengths; nothing here repeats them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "mervox.h"

namespace mervox::media::stream {

enum class FrameType : uint8_t {
    kRate6300 = MERVOX_FRAME_6300,                // speech
    kRate5300 = MERVOX_FRAME_5300,                // speech
    kSilenceDescriptor = MERVOX_FRAME_SID,        // no speech: concealed
    kUntransmitted = MERVOX_FRAME_UNTRANSMITTED,  // no speech: concealed
};

constexpr int kFrameTypes = 4;

// The type of the frame whose first byte is `firstByte` (its two low bits).
inline FrameType FrameTypeOf(uint8_t firstByte) { return static_cast<FrameType>(firstByte & 3); }

// Types 6.3 and 5.3 go to the decoder; the others are concealed as lost.
inline bool IsSpeech(FrameType type) { return mervox_frame_is_speech(static_cast<uint8_t>(type)) != 0; }

// Whether `length` bytes starting at `bytes` are a whole speech frame for
// the decoder; anything else (no speech, or cut short) is concealed.
inline bool IsWholeSpeechFrame(const uint8_t* bytes, size_t length)
{
    const FrameType type = FrameTypeOf(bytes[0]);
    return IsSpeech(type) && length >= mervox_frame_bytes(bytes[0]);
}

// The longest frame, for buffers that hold any one frame.
constexpr size_t kMaxFrameBytes = MERVOX_MAX_FRAME_BYTES;

}  // namespace mervox::media::stream
