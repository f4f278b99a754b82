#include "stream_decoder.h"

#include <memory>

#include "interface/channel.h"

namespace mervox::capture {

bool DecodeStream(const RtpStream& stream, const PcmSink& sink)
{
    // A channel holds the whole decoder state: too big for the stack.
    auto channel = std::make_unique<Channel>();
    ResetChannel(*channel, 1);
    int16_t pcm[kFrameLength];
    for (const TimelineEntry& e : stream.timeline.entries) {
        if (e.lostFrames > 0) {
            for (uint32_t k = 0; k < e.lostFrames; ++k) {
                DecodeChannelFrame(*channel, nullptr, pcm);
                if (!sink(pcm, kFrameLength))
                    return false;
            }
            continue;
        }
        const uint8_t* frame = IsSpeech(e.type) ? stream.packets[e.packet].payload.data() + e.offset : nullptr;
        DecodeChannelFrame(*channel, frame, pcm);
        if (!sink(pcm, kFrameLength))
            return false;
    }
    return true;
}

std::vector<int16_t> DecodeStreamToPcm(const RtpStream& stream)
{
    std::vector<int16_t> pcm;
    pcm.reserve(stream.timeline.stats.TimelineFrames() * kFrameLength);
    DecodeStream(stream, [&](const int16_t* samples, size_t count) {
        pcm.insert(pcm.end(), samples, samples + count);
        return true;
    });
    return pcm;
}

}  // namespace mervox::capture
