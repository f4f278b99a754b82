#include "decode/frame_batch.h"

#include <algorithm>

namespace mervox::media::decode {

FrameBatch::FrameBatch(size_t capacity)
    : capacity_(std::max<size_t>(capacity, 1)), pcm_(capacity_ * MERVOX_FRAME_SAMPLES), results_(capacity_)
{
    decoders_.reserve(capacity_);
    frames_.reserve(capacity_);
    sizes_.reserve(capacity_);
}

void FrameBatch::Add(FrameDecoder& decoder, const uint8_t* bytes, size_t length)
{
    const stream::FrameType type = stream::FrameTypeOf(bytes[0]);
    decoder.stats_.AddFrame(type);
    decoders_.push_back(decoder.decoder_);
    const bool speech = stream::IsWholeSpeechFrame(bytes, length);
    frames_.push_back(speech ? bytes : nullptr);
    sizes_.push_back(speech ? length : 0);
}

void FrameBatch::AddMissing(FrameDecoder& decoder)
{
    decoder.stats_.AddLost(1);
    decoders_.push_back(decoder.decoder_);
    frames_.push_back(nullptr);
    sizes_.push_back(0);
}

void FrameBatch::Decode()
{
    if (!decoders_.empty())
        mervox_decode_many(decoders_.data(), frames_.data(), sizes_.data(), pcm_.data(), results_.data(),
                           decoders_.size());
}

void FrameBatch::Clear()
{
    decoders_.clear();
    frames_.clear();
    sizes_.clear();
}

}  // namespace mervox::media::decode
