// What `mervox pcap` prints of a capture: as JSON (--json) or as lines of
// text once it is read, and one JSON line per call as each is written
// (--json-lines). Every string from the capture is escaped (control
// characters for a terminal; JSON as JSON).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "calls/call_audio.h"
#include "capture/capture.h"
#include "recorder/recorder.h"

namespace mervox::cli {

// What became of a stream's output file, by stream id.
using FileOf = std::function<const media::recorder::OutputFile&(size_t)>;

// The recordings of a call layout, for the calls the report lists.
struct CallFiles {
    std::vector<media::calls::CallAudio> audio;      // per call
    std::vector<media::recorder::OutputFile> files;  // per call; path empty: no stream, no recording
    // Per stream (index into the report's streams): its call's index.
    std::vector<size_t> callOf;
};

// Records skipped, by reason (only the nonzero ones).
std::vector<std::pair<std::string, uint64_t>> Skipped(const media::capture::CaptureCounters& c);

// `recordings`: the call files of a call layout (null with --layout streams).
// One capture by its name; several as an array of names, and each one's
// records and where it was cut under "files".
void PrintJson(const std::vector<std::string>& names, const media::capture::CaptureReport& r, const FileOf& files,
               const CallFiles* recordings);
void PrintText(const std::string& name, const media::capture::CaptureReport& r, const FileOf& files,
               const CallFiles* recordings);

// One call as a line of JSON, as written: the object of --json's calls[],
// each stream's figures in place of its index, why it closed. `byCall`:
// a call layout (the call has a recording).
std::string CallLine(const media::recorder::RecordedCall& call, bool byCall);

}  // namespace mervox::cli
