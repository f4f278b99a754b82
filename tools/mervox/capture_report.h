// What `mervox pcap` prints of a capture once it is read: as JSON
// (--json) or as lines of text. Every string from the capture is escaped
// (control characters for a terminal; JSON as JSON).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "call_files.h"
#include "capture/capture.h"
#include "stream_files.h"

namespace mervox::cli {

// What became of a stream's output file, by stream id.
using FileOf = std::function<const StreamFiles::File&(size_t)>;

// Records skipped, by reason (only the nonzero ones).
std::vector<std::pair<std::string, uint64_t>> Skipped(const media::capture::CaptureCounters& c);

// `recordings`: the call files of a call layout (null with --layout streams).
// One capture by its name; several as an array of names, and each one's
// records and where it was cut under "files".
void PrintJson(const std::vector<std::string>& names, const media::capture::CaptureReport& r, const FileOf& files,
               const CallFiles* recordings);
void PrintText(const std::string& name, const media::capture::CaptureReport& r, const FileOf& files,
               const CallFiles* recordings);

}  // namespace mervox::cli
