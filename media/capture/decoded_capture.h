// A whole capture read and every stream decoded into memory, each stream's
// samples in its RtpStream::pcm (for bindings and tests: memory grows with
// the decoded audio). Decoding goes through the same SlotDecoder as the
// command's, so the samples are the command's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/stop_check.h"
#include "capture/capture.h"

namespace mervox::media::capture {

// "-": standard input. Throws std::bad_alloc when memory runs out, and
// base::Interrupted when `stop` says so (asked every kFramesPerStopCheck
// frames decoded).
CaptureReport DecodeCaptureFile(const std::string& path, const CaptureOptions& options = {},
                                const base::StopRequested& stop = {});
CaptureReport DecodeCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options = {},
                                 const base::StopRequested& stop = {});

}  // namespace mervox::media::capture
