#include "stream_reader.h"

namespace mervox::cli {

size_t FrameTypeLength(FrameType type)
{
    static constexpr size_t kLength[4] = {24, 20, 4, 1};
    return kLength[static_cast<uint8_t>(type) & 3];
}

StreamSplit SplitStream(const uint8_t* data, size_t size)
{
    StreamSplit split;
    if (!data)
        return split;
    // The smallest frame is one byte, so this bounds the count.
    split.frames.reserve(size / 20 + 1);
    size_t offset = 0;
    while (offset < size) {
        const FrameType type = FrameTypeOf(data[offset]);
        const size_t length = FrameTypeLength(type);
        if (length > size - offset) {
            split.truncated = true;
            split.truncatedOffset = offset;
            split.truncatedLength = size - offset;
            split.truncatedExpected = length;
            break;
        }
        split.frames.push_back({offset, type});
        offset += length;
    }
    return split;
}

std::string DescribeTruncation(const std::string& name, const StreamSplit& split)
{
    return name + ": byte " + std::to_string(split.truncatedOffset) + ": truncated last frame (" +
           std::to_string(split.truncatedLength) + " of " + std::to_string(split.truncatedExpected) + " bytes)";
}

}  // namespace mervox::cli
