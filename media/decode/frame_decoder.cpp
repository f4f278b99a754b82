#include "decode/frame_decoder.h"

namespace mervox::media::decode {

base::Result<FrameDecoder> FrameDecoder::Create(int32_t rateSelector)
{
    mervox_decoder* decoder = mervox_decoder_create(rateSelector, nullptr);
    if (!decoder)
        return base::OutOfMemory();
    return FrameDecoder(decoder);
}

FrameDecoder::FrameDecoder(FrameDecoder&& other) noexcept : decoder_(other.decoder_), stats_(other.stats_)
{
    other.decoder_ = nullptr;
}

FrameDecoder& FrameDecoder::operator=(FrameDecoder&& other) noexcept
{
    if (this != &other) {
        mervox_decoder_destroy(decoder_);
        decoder_ = other.decoder_;
        stats_ = other.stats_;
        other.decoder_ = nullptr;
    }
    return *this;
}

FrameDecoder::~FrameDecoder() { mervox_decoder_destroy(decoder_); }

void FrameDecoder::Decode(const stream::Frame& frame, bool lost, FramePcm& pcm)
{
    Decode(frame.bytes, frame.length, lost, pcm);
}

void FrameDecoder::Decode(const uint8_t* bytes, size_t length, bool lost, FramePcm& pcm)
{
    const stream::FrameType type = stream::FrameTypeOf(bytes[0]);
    stats_.AddFrame(type);
    if (stream::IsWholeSpeechFrame(bytes, length) && !lost)
        mervox_decode(decoder_, bytes, length, pcm.data());
    else
        mervox_conceal(decoder_, pcm.data());
}

void FrameDecoder::ConcealMissing(FramePcm& pcm)
{
    stats_.AddLost(1);
    mervox_conceal(decoder_, pcm.data());
}

}  // namespace mervox::media::decode
