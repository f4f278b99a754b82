// A whole capture read and every stream decoded into memory, each stream's
// samples in its RtpStream::pcm (for bindings and tests: memory grows with
// the decoded audio). Decoding goes through the same SlotDecoder as the
// command's, so the samples are the command's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture.h"
#include "stop_check.h"

namespace mervox::capture {

// "-": standard input. Throws std::bad_alloc when memory runs out, and
// tools::Interrupted when `stop` says so (asked every kFramesPerStopCheck
// frames decoded).
CaptureReport DecodeCaptureFile(const std::string& path, const CaptureOptions& options = {},
                                const tools::StopRequested& stop = {});
CaptureReport DecodeCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options = {},
                                 const tools::StopRequested& stop = {});

}  // namespace mervox::capture
