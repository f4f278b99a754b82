// `mervox pcap --layout call|mixed`: each call's recording, made once the
// capture has been read from its streams' scratch files (stream_files.h),
// which are removed as their call is written. The calls are written by up
// to `workers` threads; names are given in call order, so files and
// report are the same for any -j.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "calls/call_audio.h"
#include "capture/capture.h"
#include "console.h"
#include "stream_files.h"

namespace mervox::cli {

struct CallFiles {
    std::vector<media::calls::CallAudio> audio;  // per call
    std::vector<StreamFiles::File> files;        // per call; path empty: no stream, no recording
    // Per stream (index into the report's streams): its call's index, and
    // its channel there.
    std::vector<size_t> callOf;
    int status = 0;  // the worst exit status of the recordings
};

// Where the streams' scratch files go: hidden, beside the recordings.
std::string ScratchPrefix(const std::string& prefix);

// `scratchOf(id)`: stream `id`'s scratch file. Removes every scratch file.
CallFiles WriteCallFiles(const media::capture::CaptureReport& report, media::calls::CallLayout layout,
                         const std::string& prefix, const std::function<const StreamFiles::File&(size_t)>& scratchOf,
                         unsigned workers, const Console& console);

}  // namespace mervox::cli
