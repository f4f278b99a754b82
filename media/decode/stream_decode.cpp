#include "decode/stream_decode.h"

namespace mervox::media::decode {

base::Status StreamDecode::Start()
{
    started_ = reader_.Next(&frame_);
    if (started_)
        return base::Status::Ok();
    if (!reader_.status().ok())
        return reader_.status();
    return base::Status::Failure(base::kExitBadInput,
                                 stream::DescribeTruncation(reader_.name(), *reader_.Truncated()) + ", no whole frame");
}

base::Status StreamDecode::Run(LossPlan& loss, const FrameCall& each)
{
    base::Result<FrameDecoder> decoder = FrameDecoder::Create(MERVOX_RATE_SELECT_6300);
    if (!decoder.ok())
        return decoder.status();
    FramePcm pcm;
    for (bool have = started_; have; have = reader_.Next(&frame_)) {
        const bool lost = loss.NextLost();
        if (!loss.status().ok())
            return loss.status();
        decoder.value().Decode(frame_, lost, pcm);
        const base::Status status = each(frame_, pcm);
        if (!status.ok())
            return status;
    }
    return reader_.status();
}

base::Result<std::vector<std::string>> StreamDecode::Warnings(LossPlan& loss) const
{
    std::vector<std::string> warnings;
    const uint64_t frames = reader_.frames();
    if (const auto cut = reader_.Truncated())
        warnings.push_back(stream::DescribeTruncation(reader_.name(), *cut) + "; decoding the " +
                           std::to_string(frames) + " whole frames before it");
    if (loss.hasMask()) {
        base::Result<uint64_t> maskBytes = loss.MaskBytes();
        if (!maskBytes.ok())
            return maskBytes.status();
        if (maskBytes.value() != frames)
            warnings.push_back(loss.maskName() + ": " + std::to_string(maskBytes.value()) + " mask bytes for " +
                               std::to_string(frames) + " frames");
    }
    return warnings;
}

}  // namespace mervox::media::decode
