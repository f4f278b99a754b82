// Splitting a G.723.1 stream file into frames.
//
// A stream file is frames back to back; the two lowest bits of a frame's
// first byte give its type and so its length: 0 = 24 bytes (6.3 kbit/s),
// 1 = 20 bytes (5.3 kbit/s), 2 = 4 bytes (silence descriptor), 3 = 1 byte
// (untransmitted). Works on bytes already in memory and never reads past
// `size`, whatever the bytes hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mervox::cli {

enum class FrameType : uint8_t {
    kRate63 = 0,             // speech, 24 bytes
    kRate53 = 1,             // speech, 20 bytes
    kSilenceDescriptor = 2,  // no speech, 4 bytes
    kUntransmitted = 3,      // no speech, 1 byte
};

// Length in bytes of a frame of this type.
size_t FrameTypeLength(FrameType type);

// Type of the frame whose first byte is `firstByte`.
inline FrameType FrameTypeOf(uint8_t firstByte) { return static_cast<FrameType>(firstByte & 3); }

struct StreamFrame {
    size_t offset;  // of the first byte, from the start of the stream
    FrameType type;
    size_t length() const { return FrameTypeLength(type); }
    // Types 0 and 1 go to the decoder; 2 and 3 are concealed as lost frames.
    bool speech() const { return type == FrameType::kRate63 || type == FrameType::kRate53; }
};

struct StreamSplit {
    std::vector<StreamFrame> frames;  // every whole frame, in order
    bool truncated = false;           // the stream ends inside a frame
    size_t truncatedOffset = 0;       // where that partial frame starts
    size_t truncatedLength = 0;       // bytes of it present
    size_t truncatedExpected = 0;     // bytes its type announces
};

StreamSplit SplitStream(const uint8_t* data, size_t size);

// "NAME: byte OFFSET: truncated last frame (PRESENT of EXPECTED bytes)" for a
// split that ends inside a frame.
std::string DescribeTruncation(const std::string& name, const StreamSplit& split);

}  // namespace mervox::cli
