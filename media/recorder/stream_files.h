// Where a worker's decoded streams go: one WAV file per stream (written
// as the stream is decoded and moved into place when it ends), raw scratch
// files for calls to be composed of, or memory. A stream whose file fails
// does not stop the others.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/status.h"
#include "base/stop_check.h"
#include "output/output_pool.h"
#include "output/temporary_files.h"
#include "recorder/stream_decoding.h"

namespace mervox::media::recorder {

// PREFIX-0xSSRC.wav; a second stream with the same SSRC (other addresses,
// or after it had ended) gets -2, a third -3, ...
std::string StreamFilePath(const std::string& prefix, const timeline::StreamInfo& s);

// What became of a stream's (or a call's) file.
struct OutputFile {
    std::string path;
    std::string error;     // empty: written (or being written)
    bool writing = false;  // started, not ended, not failed
};

// A failure, as it happens: its message and the exit status it leads to.
using FailureReport = std::function<void(const base::Status& why, const std::string& message)>;

// The streams' files, sharing an OutputPool: a stream's samples wait in
// memory until there are enough of them, and a bounded number of files is
// open at once. With a `scratch` prefix, each stream goes instead to
// SCRATCH<id>.raw (raw samples, removed on a terminating signal) for a
// call's recording to be made of it.
class FileStreams : public StreamSink {
public:
    FileStreams(std::string prefix, const output::OutputPool::Limits& limits, FailureReport failed,
                std::string scratch = "");
    void Started(const timeline::StreamInfo& info) override;
    bool Samples(size_t id, const int16_t* pcm, size_t count) override;
    void Ended(size_t id) override;

    // Once the stream is decoded: its file, and forgetting it.
    OutputFile file(size_t id) const;
    void Forget(size_t id);

private:
    void Fail(OutputFile& f, const base::Status& why);

    std::string prefix_;
    std::string scratch_;
    FailureReport failed_;
    output::OutputPool pool_;
    // Written by the worker, read by the reader once a stream is decoded.
    mutable std::mutex mutex_;
    std::map<size_t, OutputFile> files_;
    std::map<size_t, std::unique_ptr<output::TemporaryFileRegistration>> scratchFiles_;
};

// The streams' samples in memory. `stop` is asked every
// base::kFramesPerStopCheck frames (base::Interrupted is thrown when it says so).
class MemoryStreams : public StreamSink {
public:
    explicit MemoryStreams(const base::StopRequested& stop) : check_(stop) {}
    void Started(const timeline::StreamInfo& info) override;
    bool Samples(size_t id, const int16_t* pcm, size_t count) override;
    void Ended(size_t) override {}
    std::vector<int16_t> Take(size_t id);

private:
    std::mutex mutex_;
    std::map<size_t, std::vector<int16_t>> pcm_;
    base::StopCheck check_;
};

}  // namespace mervox::media::recorder
