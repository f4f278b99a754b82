// The module's side of the capture reader (media/capture) and of
// `mervox pcap`: the same reader and timeline, the command's messages and
// its per-stream report. Free of Python, so it runs with the interpreter
// lock released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"
#include "input.h"
#include "stop_check.h"

namespace mervox::python {

// One stream as `mervox pcap --json` reports it.
struct StreamReport {
    uint32_t ssrc;
    std::string sourceAddress;
    uint16_t sourcePort;
    std::string destinationAddress;
    uint16_t destinationPort;
    int payloadType;
    uint64_t packets, duplicates, reordered, late, frames, speechFrames, silenceFrames, lostFrames, rateSwitches,
        overlappingFrames, timestampJumps, strayTimestamps, sequenceRestarts, unfilledFrames, cutShortPayloads;
    double durationSeconds;
    double firstPacketTime;
};

// One stream: its report and its decoded samples (240 per frame on its
// timeline, lost frames included).
struct DecodedStream {
    StreamReport report;
    std::vector<int16_t> pcm;
};

// As `mervox pcap --payload-type N [--allow-long-gaps]`.
struct CaptureSettings {
    int payloadType = 4;
    bool allowLongGaps = false;  // fill every gap, beyond the concealment limit
};

// Reads a capture (a file, or bytes) with the command's capture reader and
// decodes every G.723.1 stream in it, in order of their first packet.
// InputError when the file cannot be read; CaptureError when it is not a
// capture or holds no such stream; warnings when it is cut short or a
// stream's gaps were left unfilled; tools::Interrupted when `stop` says so
// (asked every kFramesPerStopCheck frames decoded). Unlike the command, "-"
// is a file of that name.
std::vector<DecodedStream> ReadCapture(const Input& input, const CaptureSettings& settings, Warnings& warnings,
                                       const tools::StopRequested& stop);

}  // namespace mervox::python
