#include "stream_decoder.h"

#include "mervox.hpp"

namespace mervox::capture {

bool DecodeStream(const RtpStream& stream, const PcmSink& sink)
{
    Decoder decoder(1);  // as INITdec(1): 6.3 kbit/s until a frame says otherwise
    FramePcm pcm;
    for (const TimelineEntry& e : stream.timeline.entries) {
        if (e.lostFrames > 0) {
            for (uint32_t k = 0; k < e.lostFrames; ++k) {
                decoder.Conceal(pcm);
                if (!sink(pcm.data(), pcm.size()))
                    return false;
            }
            continue;
        }
        if (IsSpeech(e.type)) {
            const std::vector<uint8_t>& payload = stream.packets[e.packet].payload;
            decoder.Decode(FrameView(payload.data() + e.offset, kFrameBytes[static_cast<int>(e.type)]), pcm);
        } else {
            decoder.Conceal(pcm);
        }
        if (!sink(pcm.data(), pcm.size()))
            return false;
    }
    return true;
}

std::vector<int16_t> DecodeStreamToPcm(const RtpStream& stream)
{
    std::vector<int16_t> pcm;
    pcm.reserve(stream.timeline.stats.TimelineFrames() * kFrameSamples);
    DecodeStream(stream, [&](const int16_t* samples, size_t count) {
        pcm.insert(pcm.end(), samples, samples + count);
        return true;
    });
    return pcm;
}

}  // namespace mervox::capture
