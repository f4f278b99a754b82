// Decodes one stream's timeline to 16-bit PCM at 8 kHz, 240 samples per
// frame: speech frames as they are, silence-descriptor, untransmitted and
// missing frames as lost frames, exactly as a host drives DecSoundFrame
// after INITdec(1).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "capture.h"

namespace mervox::capture {

// Receives each decoded frame's 240 samples; returns false to stop.
using PcmSink = std::function<bool(const int16_t* samples, size_t count)>;

// Returns false if the sink stopped the decoding.
bool DecodeStream(const RtpStream& stream, const PcmSink& sink);

std::vector<int16_t> DecodeStreamToPcm(const RtpStream& stream);

}  // namespace mervox::capture
