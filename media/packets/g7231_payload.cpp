#include "packets/g7231_payload.h"

namespace mervox::media::packets {

bool SplitFrames(net::ByteView payload, std::vector<FrameSlice>& frames)
{
    size_t offset = 0;
    while (offset < payload.size) {
        const uint8_t first = payload.U8(offset);
        const size_t length = mervox_frame_bytes(first);
        if (!payload.Has(offset, length))
            return false;
        frames.push_back({static_cast<FrameType>(first & 3), static_cast<uint16_t>(offset)});
        offset += length;
    }
    return true;
}

bool IsWholeFrames(net::ByteView payload)
{
    size_t offset = 0;
    while (offset < payload.size)
        offset += mervox_frame_bytes(payload.U8(offset));
    return payload.size > 0 && offset == payload.size;
}

}  // namespace mervox::media::packets
