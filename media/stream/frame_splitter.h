// Splits a G.723.1 stream, given block by block in any sizes, into its
// frames: frames lie back to back and each one's length follows from the
// type bits of its first byte. A frame cut by a block boundary is carried
// over in a buffer of its own; nothing else is copied or kept, so memory
// does not depend on the stream's length.
//
//   FrameSplitter splitter;
//   splitter.Push(block, n);
//   Frame f;
//   while (splitter.Next(&f)) use(f);   // then Push the next block
//   if (auto cut = splitter.Truncated()) ...;   // at the end of the stream
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "stream/frames.h"

namespace mervox::media::stream {

struct Frame {
    const uint8_t* bytes;  // valid until the next Push or Next
    size_t length;         // its type's length (mervox_frame_bytes)
    FrameType type;
    uint64_t offset;  // of its first byte, from the start of the stream
    uint64_t index;   // 0 for the first frame
};

// The stream ended inside a frame.
struct Truncation {
    uint64_t offset;  // where that frame starts
    size_t present;   // bytes of it in the stream
    size_t expected;  // bytes its type announces
};

class FrameSplitter {
public:
    // The next block of the stream; the bytes must stay valid until Next()
    // returns false. Only call when Next() has returned false.
    void Push(const uint8_t* data, size_t size);

    // The next whole frame, or false when the pushed bytes are used up.
    bool Next(Frame* frame);

    // After the last block: the partial frame the stream ends with, if any.
    std::optional<Truncation> Truncated() const;

    uint64_t frames() const { return frames_; }

private:
    Frame Emit(const uint8_t* bytes, FrameType type, uint64_t offset);

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t position_ = 0;
    uint8_t carry_[kMaxFrameBytes] = {};
    size_t carried_ = 0;     // bytes of a cut frame in carry_
    uint64_t consumed_ = 0;  // stream bytes before data_[position_]
    uint64_t frames_ = 0;
};

}  // namespace mervox::media::stream
