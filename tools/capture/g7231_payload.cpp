#include "g7231_payload.h"

namespace mervox::capture {

bool SplitFrames(ByteView payload, std::vector<FrameSlice>& frames)
{
    size_t offset = 0;
    while (offset < payload.size) {
        const auto type = static_cast<FrameType>(payload.U8(offset) & 3);
        const size_t length = kFrameBytes[static_cast<int>(type)];
        if (!payload.Has(offset, length))
            return false;
        frames.push_back({type, static_cast<uint16_t>(offset)});
        offset += length;
    }
    return true;
}

}  // namespace mervox::capture
