// Splits an RTP payload into G.723.1 frames. Several frames may follow one
// another; the two lowest bits of each frame's first byte give its type and
// so its length (mervox_frame_bytes).
#pragma once

#include <cstdint>
#include <vector>

#include "net/byte_view.h"
#include "stream/frames.h"

namespace mervox::media::packets {

// The tools' frame types (frames.h): one enum for the command and the reader.
using stream::FrameType;
using stream::IsSpeech;

struct FrameSlice {
    FrameType type;
    uint16_t offset;  // within the payload
};

// Appends the frames of `payload` to `frames`. Returns false when the last
// frame is cut short (the complete frames before it are still appended).
bool SplitFrames(net::ByteView payload, std::vector<FrameSlice>& frames);

// True when the payload is one or more whole frames and nothing else: its
// length is the sum of its frames' lengths.
bool IsWholeFrames(net::ByteView payload);

}  // namespace mervox::media::packets
