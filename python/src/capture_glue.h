// The module's side of the capture reader (media/capture) and of
// `mervox pcap`: the same reader and timeline, the command's messages and
// its per-stream report. Free of Python, so it runs with the interpreter
// lock released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/stop_check.h"
#include "errors.h"
#include "input.h"

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

// One call of a capture, as `mervox pcap --json` reports it, with the
// samples of the file it writes for the call (--layout call).
struct CallRecording {
    bool signalled = false;
    std::string callId;
    std::string fromName, fromUri, toName, toUri;  // SIP calls
    double startTime = 0, endTime = 0;
    double recordingStartTime = 0;  // capture time of the first sample
    std::vector<uint32_t> callerSsrcs, calleeSsrcs;
    // The listening-quality estimate per direction (R, MOS); absent: that
    // direction has no stream.
    bool haveCallerToCallee = false, haveCalleeToCaller = false;
    double callerToCalleeR = 0, callerToCalleeMos = 0, calleeToCallerR = 0, calleeToCallerMos = 0;
    uint64_t reanchors = 0;  // of all its streams
    // Silence cut out of the recording: seconds into it, capture time where
    // the silence began, seconds cut.
    struct Cut {
        double recordingTime, captureTime, seconds;
    };
    std::vector<Cut> silenceCuts;
    int channels = 0;              // 2 (caller left), or 1 (a stream alone); 0: no stream, no samples
    std::vector<int16_t> samples;  // interleaved
};

// As ReadCapture, then every call's recording, in the order of the report's
// calls (`stop` is asked while they are composed too).
std::vector<CallRecording> ReadCalls(const Input& input, const CaptureSettings& settings, Warnings& warnings,
                                     const media::base::StopRequested& stop);

// Reads a capture (a file, or bytes) with the command's capture reader and
// decodes every G.723.1 stream in it, in order of their first packet.
// InputError when the file cannot be read; CaptureError when it is not a
// capture or holds no such stream; warnings when it is cut short or a
// stream's gaps were left unfilled; media::base::Interrupted when `stop` says so
// (asked every kFramesPerStopCheck frames decoded). Unlike the command, "-"
// is a file of that name.
std::vector<DecodedStream> ReadCapture(const Input& input, const CaptureSettings& settings, Warnings& warnings,
                                       const media::base::StopRequested& stop);

}  // namespace mervox::python
