#include "stream_decoder.h"

#include <new>
#include <utility>

namespace mervox::capture {
namespace {

tools::FrameDecoder NewDecoder()
{
    tools::Result<tools::FrameDecoder> decoder = tools::FrameDecoder::Create(MERVOX_RATE_SELECT_6300);
    if (!decoder.ok())
        throw std::bad_alloc();
    return std::move(decoder.value());
}

}  // namespace

StreamDecoder::StreamDecoder(PcmSink sink) : decoder_(NewDecoder()), sink_(std::move(sink)) {}

void StreamDecoder::Emit()
{
    if (!sink_(pcm_.data(), pcm_.size()))
        stopped_ = true;
}

void StreamDecoder::Frame(const StreamPacket& packet, const FrameSlice& frame)
{
    if (stopped_)
        return;
    decoder_.Decode(packet.payload.data() + frame.offset, FrameBytes(frame.type), false, pcm_);
    Emit();
}

void StreamDecoder::Lost(uint64_t frames)
{
    for (uint64_t k = 0; k < frames && !stopped_; ++k) {
        decoder_.ConcealMissing(pcm_);
        Emit();
    }
}

}  // namespace mervox::capture
