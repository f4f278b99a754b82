// Decodes one stream's timeline to 16-bit PCM at 8 kHz as it is laid out,
// 240 samples per frame: speech frames as they are, silence-descriptor,
// untransmitted and missing frames as lost frames, exactly as a host drives
// DecSoundFrame after INITdec(1).
#pragma once

#include <cstdint>
#include <functional>

#include "frame_decoder.h"
#include "mervox.hpp"
#include "stream_timeline.h"

namespace mervox::capture {

// Receives each decoded frame's 240 samples; returns false to stop.
// Creating a decoder throws std::bad_alloc when memory runs out.
using PcmSink = std::function<bool(const int16_t* samples, size_t count)>;

class StreamDecoder : public TimelineOutput {
public:
    explicit StreamDecoder(PcmSink sink);
    void Frame(const StreamPacket& packet, const FrameSlice& frame) override;
    void Lost(uint64_t frames) override;
    // The sink asked to stop: nothing more is decoded.
    bool stopped() const { return stopped_; }

private:
    void Emit();

    tools::FrameDecoder decoder_;  // the tools' decode-or-conceal step, as after INITdec(1)
    FramePcm pcm_{};
    PcmSink sink_;
    bool stopped_ = false;
};

}  // namespace mervox::capture
