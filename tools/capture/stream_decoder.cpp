#include "stream_decoder.h"

#include <utility>

namespace mervox::capture {

StreamDecoder::StreamDecoder(PcmSink sink) : decoder_(MERVOX_RATE_SELECT_6300), sink_(std::move(sink)) {}

void StreamDecoder::Emit()
{
    if (!sink_(pcm_.data(), pcm_.size()))
        stopped_ = true;
}

void StreamDecoder::Frame(const StreamPacket& packet, const FrameSlice& frame)
{
    if (stopped_)
        return;
    if (IsSpeech(frame.type))
        decoder_.Decode(FrameView(packet.payload.data() + frame.offset, FrameBytes(frame.type)), pcm_);
    else
        decoder_.Conceal(pcm_);
    Emit();
}

void StreamDecoder::Lost(uint64_t frames)
{
    for (uint64_t k = 0; k < frames && !stopped_; ++k) {
        decoder_.Conceal(pcm_);
        Emit();
    }
}

}  // namespace mervox::capture
