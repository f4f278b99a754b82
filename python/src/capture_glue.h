// The module's side of the capture reader (tools/capture) and of
// `mervox pcap`: the same reader and timeline, the command's messages and
// its per-stream report. Free of Python, so it runs with the interpreter
// lock released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture.h"
#include "errors.h"

namespace mervox::python {

// Reads a capture file (InputError when it cannot be read) or bytes
// (`path` empty; `name` names them in messages). CaptureError when it is
// not a capture or holds no G.723.1 stream of `payloadType`; a warning when
// it is cut short. Unlike the command, "-" is a file of that name.
capture::CaptureReport ReadCaptureChecked(const std::string& path, const uint8_t* data, size_t size,
                                          const std::string& name, int payloadType, Warnings& warnings);

// One stream as `mervox pcap --json` reports it.
struct StreamReport {
    uint32_t ssrc;
    std::string sourceAddress;
    uint16_t sourcePort;
    std::string destinationAddress;
    uint16_t destinationPort;
    int payloadType;
    uint64_t packets, duplicates, reordered, frames, speechFrames, silenceFrames, lostFrames, rateSwitches,
        overlappingFrames, timestampJumps, cutShortPayloads;
    double durationSeconds;
    double firstPacketTime;
};

StreamReport ReportStream(const capture::RtpStream& stream);

// Frames on the stream's timeline, lost ones included: 240 samples each.
size_t TimelineFrames(const capture::RtpStream& stream);

// Decodes the stream into pcm[240 * TimelineFrames(stream)].
void DecodeCaptureStream(const capture::RtpStream& stream, int16_t* pcm);

}  // namespace mervox::python
