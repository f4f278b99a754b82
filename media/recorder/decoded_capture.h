// A whole capture read and every stream decoded into memory (for bindings
// and tests: memory grows with the decoded audio), through the recorder,
// so the samples are the command's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/stop_check.h"
#include "capture/capture.h"

namespace mervox::media::recorder {

struct DecodedCapture : capture::CaptureReport {
    std::vector<std::vector<int16_t>> pcm;  // pcm[i]: streams[i]'s samples
};

// "-": standard input. Throws std::bad_alloc when memory runs out, and
// base::Interrupted when `stop` says so (asked every kFramesPerStopCheck
// frames decoded).
DecodedCapture DecodeCaptureFile(const std::string& path, const capture::CaptureOptions& options = {},
                                 const base::StopRequested& stop = {});
DecodedCapture DecodeCaptureBytes(const uint8_t* data, size_t size, const capture::CaptureOptions& options = {},
                                  const base::StopRequested& stop = {});

}  // namespace mervox::media::recorder
