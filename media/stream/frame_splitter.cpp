#include "stream/frame_splitter.h"

#include <algorithm>
#include <cstring>

namespace mervox::media::stream {

void FrameSplitter::Push(const uint8_t* data, size_t size)
{
    data_ = data;
    size_ = data ? size : 0;
    position_ = 0;
}

Frame FrameSplitter::Emit(const uint8_t* bytes, FrameType type, uint64_t offset)
{
    return Frame{bytes, mervox_frame_bytes(static_cast<uint8_t>(type)), type, offset, frames_++};
}

bool FrameSplitter::Next(Frame* frame)
{
    if (carried_ > 0) {
        // Complete the frame cut by the last block boundary.
        const FrameType type = FrameTypeOf(carry_[0]);
        const size_t take = std::min(mervox_frame_bytes(static_cast<uint8_t>(type)) - carried_, size_ - position_);
        std::memcpy(carry_ + carried_, data_ + position_, take);
        carried_ += take;
        position_ += take;
        consumed_ += take;
        if (carried_ < mervox_frame_bytes(static_cast<uint8_t>(type)))
            return false;
        carried_ = 0;
        *frame = Emit(carry_, type, consumed_ - mervox_frame_bytes(static_cast<uint8_t>(type)));
        return true;
    }
    if (position_ >= size_)
        return false;
    const FrameType type = FrameTypeOf(data_[position_]);
    const size_t length = mervox_frame_bytes(static_cast<uint8_t>(type));
    const size_t left = size_ - position_;
    if (length > left) {
        std::memcpy(carry_, data_ + position_, left);
        carried_ = left;
        position_ = size_;
        consumed_ += left;
        return false;
    }
    *frame = Emit(data_ + position_, type, consumed_);
    position_ += length;
    consumed_ += length;
    return true;
}

std::optional<Truncation> FrameSplitter::Truncated() const
{
    if (carried_ == 0)
        return std::nullopt;
    return Truncation{consumed_ - carried_, carried_, mervox_frame_bytes(carry_[0])};
}

}  // namespace mervox::media::stream
