// The one pipeline from a capture to recordings: the capture reader's
// streams are decoded by N workers (stream_decoding.h) into files, scratch
// files or memory (stream_files.h); each call, as it closes, is composed
// and written (call_writer.h) once its streams are decoded, and handed to
// `recorded` with its figures' inputs, in the order the calls closed. With
// worker threads, calls are written by a thread of their own as soon as
// their streams are decoded (the reader may be waiting for input); else on
// the reading thread when they close. The command, the Python module and
// the tests all record through it; it prints nothing.
//
//   Recorder recorder(options);
//   CaptureReport report = capture::ReadCapture(path, captureOptions, recorder);
//   recorder.Finish();
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/file_names.h"
#include "base/status.h"
#include "base/stop_check.h"
#include "calls/call_audio.h"
#include "calls/call_record.h"
#include "capture/capture.h"
#include "output/output_pool.h"
#include "quality/stream_series.h"
#include "recorder/call_writer.h"
#include "recorder/stream_decoding.h"
#include "recorder/stream_files.h"

namespace mervox::media::recorder {

// A call as recorded, handed over when its file is in place.
struct RecordedCall {
    const calls::CallRecord* record = nullptr;  // valid during the hand-over
    WrittenCall written;                        // its recording (call layouts)
    std::vector<OutputFile> streamFiles;        // --layout streams: each stream's file
    // In memory: each stream's samples, and the recording (call layouts).
    std::vector<std::vector<int16_t>> pcm;
    std::vector<int16_t> samples;
    std::vector<quality::StreamSeries> loudness;  // per stream, with RecorderOptions::loudness
};

struct RecorderOptions {
    calls::CallLayout layout = calls::CallLayout::kStereo;
    // Files: PREFIX-<start>-<parties>.wav per call, or PREFIX-0xSSRC.wav per
    // stream; call layouts decode to hidden scratch files beside them.
    std::string prefix;
    bool memory = false;  // decode into memory instead, for RecordedCall::pcm and samples
    unsigned workers = 1;
    output::OutputPool::Limits limits;  // of all the files together
    bool loudness = false;              // keep each stream's decoded loudness over time
    // A file failed (called from any thread, as it happens).
    FailureReport failed;
    // Each call, in the order they closed.
    std::function<void(RecordedCall&)> recorded;
    // Where the reading has got to (on the reading thread).
    std::function<void(const capture::CaptureProgress&)> progress;
    base::StopRequested stop;  // asked while composing in memory
};

class Recorder : public capture::StreamConsumer {
public:
    explicit Recorder(RecorderOptions options);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void StreamStarted(size_t id, const timeline::StreamInfo& info) override;
    bool Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count) override;
    void StreamEnded(size_t id, const timeline::RtpStream& stream) override;
    void CallEnded(const calls::CallRecord& call) override;
    void Progress(const capture::CaptureProgress& progress) override
    {
        if (options_.progress)
            options_.progress(progress);
    }

    // Waits for the decoding and writes every call left.
    void Finish();

    // The worst exit status of the files (kExitOk when all were written).
    base::ExitCode status() const;

private:
    void Write(calls::CallRecord& record);
    void RunWriter();

    // Closed calls that may wait for the writer before the reader waits too.
    static constexpr size_t kMaxPendingCalls = 8;

    RecorderOptions options_;
    std::unique_ptr<StreamDecoding> decoding_;
    // Closed calls waiting for their streams' decoding, in the order they closed.
    std::mutex pendingMutex_;
    std::condition_variable pendingChanged_;
    std::deque<calls::CallRecord> pending_;
    bool closing_ = false;
    std::thread writer_;  // with threaded decoding
    base::UniqueNames names_;
    mutable std::mutex statusMutex_;
    base::ExitCode status_ = base::kExitOk;
    bool finished_ = false;
};

}  // namespace mervox::media::recorder
