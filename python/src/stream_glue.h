// The module's side of the application library's stream code: the stream
// reader, the decode-a-stream loop and the loss plan of `mervox decode`,
// with the command's messages. Free of Python, so it runs with the
// interpreter lock released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/stop_check.h"
#include "errors.h"
#include "input.h"

namespace mervox::python {

// Simulated losses, as `mervox decode --loss --drop-rate --seed`.
struct LossOptions {
    std::string maskPath;       // a mask file, or
    std::vector<uint8_t> mask;  // mask bytes (used when maskPath is empty)
    bool hasMask = false;
    double dropRate = 0.0;  // in [0, 1]
    uint64_t seed = 1;
};

// Decodes a whole stream, 240 samples per frame, lost frames included:
// speech frames not marked lost are decoded, everything else concealed.
// InputError when a file cannot be read, StreamError when the stream holds
// no whole frame; warnings for a truncated last frame and a mask whose
// length differs from the frame count; media::base::Interrupted when `stop` says
// so (asked every kFramesPerStopCheck frames). Unlike the command, "-" is a
// file of that name, never standard input. An input that starts like
// another format (a capture, a WAV file, text) is a StreamError unless
// `force`.
std::vector<int16_t> DecodeStream(const Input& input, const LossOptions& loss, bool force, Warnings& warnings,
                                  const media::base::StopRequested& stop);

// One frame as `mervox info` counts it.
struct FrameRecord {
    uint64_t offset;
    uint8_t type;   // MERVOX_FRAME_6300, _5300, _SID or _UNTRANSMITTED
    uint16_t rate;  // 6300, 5300, or 0 for frames without speech
    uint8_t size;   // bytes
    bool faulty;    // speech frame with impossible codes (concealed)
};

// Every whole frame of the stream; errors, warnings, `force` and `stop` as
// DecodeStream.
std::vector<FrameRecord> DescribeFrames(const Input& input, bool force, Warnings& warnings,
                                        const media::base::StopRequested& stop);

}  // namespace mervox::python
