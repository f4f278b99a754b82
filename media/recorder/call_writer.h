// A closed call's recording: placed on the capture's time from its
// streams' decoded samples (scratch files, or memory), named after its
// start and parties, and written as one WAV file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/file_names.h"
#include "base/status.h"
#include "calls/call_audio.h"
#include "calls/call_record.h"
#include "recorder/stream_files.h"

namespace mervox::media::recorder {

// PREFIX with its date fields filled in for `time` (seconds since 1970).
std::string FiledPrefix(const std::string& prefix, double time);

// A call's recording as written.
struct WrittenCall {
    calls::CallAudio audio;
    OutputFile file;  // path empty: the call has no stream, so no recording
    base::ExitCode status = base::kExitOk;
};

// Writes `record`'s recording under PREFIX-<start>-<parties>.wav (a name
// `names` has not given yet; date fields of PREFIX, base/date_fields.h,
// filled in with the recording's start and its folders made) from its
// streams' scratch files (`scratch[k]` for record.streams[k]), which it
// removes. `names` forgets names of calls that began a day before this one.
WrittenCall WriteCallFromFiles(const calls::CallRecord& record, calls::CallLayout layout, const std::string& prefix,
                               const std::vector<OutputFile>& scratch, base::UniqueNames& names);

// The recording in memory (`pcm[k]`: record.streams[k]'s samples).
WrittenCall ComposeCallFromMemory(const calls::CallRecord& record, calls::CallLayout layout,
                                  const std::vector<std::vector<int16_t>>& pcm, std::vector<int16_t>& samples,
                                  const base::StopRequested& stop);

}  // namespace mervox::media::recorder
