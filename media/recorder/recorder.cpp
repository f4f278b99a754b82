#include "recorder/recorder.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>

#include "output/scratch_files.h"
#include "platform/process.h"

namespace mervox::media::recorder {

Recorder::Recorder(RecorderOptions options) : options_(std::move(options))
{
    // Every failure counts in the status, whoever else hears of it.
    options_.failed = [this, heard = std::move(options_.failed)](const base::Status& why, const std::string& message) {
        {
            std::lock_guard<std::mutex> lock(statusMutex_);
            status_ = std::max(status_, why.readerGone() ? base::kExitOutputError : why.code());
        }
        if (heard)
            heard(why, message);
    };
    const bool byCall = options_.layout != calls::CallLayout::kStreams;
    // Hidden beside the recordings, named after this process (output/scratch_files.h).
    const std::string scratch =
        byCall && !options_.memory ? output::ScratchPrefix(options_.prefix, platform::ProcessId()) : "";
    const StreamDecoding::SinkFactory sinks = [&](size_t, size_t workers) -> std::unique_ptr<StreamSink> {
        if (options_.memory)
            return std::make_unique<MemoryStreams>(options_.stop);
        // Each worker has its share of the limits.
        output::OutputPool::Limits share = options_.limits;
        share.openFiles = std::max<size_t>(1, options_.limits.openFiles / workers);
        share.heldBytes = options_.limits.heldBytes / workers;
        return std::make_unique<FileStreams>(options_.prefix, share, options_.failed, scratch);
    };
    decoding_ = std::make_unique<StreamDecoding>(options_.memory ? 1u : options_.workers, sinks, options_.loudness);
    if (decoding_->threaded())
        writer_ = std::thread([this] { RunWriter(); });
}

Recorder::~Recorder()
{
    try {
        Finish();
    } catch (...) {
        // Left by an interruption: what was not decoded is not wanted.
    }
}

void Recorder::StreamStarted(size_t id, const timeline::StreamInfo& info) { decoding_->Started(id, info); }

bool Recorder::Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count)
{
    decoding_->Frames(id, frame, size, count);
    return true;  // a stream whose file failed is skipped by its worker
}

void Recorder::StreamEnded(size_t id, const timeline::RtpStream&) { decoding_->Ended(id); }

void Recorder::CallEnded(const calls::CallRecord& call)
{
    // Its streams' last slots go to the workers now, not when a batch fills.
    for (const timeline::RtpStream& s : call.streams)
        decoding_->Flush(s.id);
    if (!writer_.joinable()) {
        // Decoded on this thread: ready now.
        calls::CallRecord record = call;
        Write(record);
        return;
    }
    // The reader waits while the writer is behind: memory and scratch
    // space hold the calls open and a few closed ones, not a backlog.
    std::unique_lock<std::mutex> lock(pendingMutex_);
    pendingChanged_.wait(lock, [&] { return pending_.size() < kMaxPendingCalls; });
    pending_.push_back(call);
    pendingChanged_.notify_all();
}

void Recorder::RunWriter()
{
    for (;;) {
        calls::CallRecord* next = nullptr;
        {
            std::unique_lock<std::mutex> lock(pendingMutex_);
            pendingChanged_.wait(lock, [&] { return !pending_.empty() || closing_; });
            if (pending_.empty())
                return;
            next = &pending_.front();  // only this thread takes it off
        }
        for (const timeline::RtpStream& s : next->streams)
            decoding_->Decoded(s.id, true);
        try {
            Write(*next);
        } catch (const std::bad_alloc&) {
            std::lock_guard<std::mutex> lock(statusMutex_);
            status_ = base::kExitOutOfMemory;
        }
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pending_.pop_front();
        pendingChanged_.notify_all();
    }
}

void Recorder::Finish()
{
    if (finished_)
        return;
    finished_ = true;
    decoding_->Finish();
    if (writer_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(pendingMutex_);
            closing_ = true;
            pendingChanged_.notify_all();
        }
        writer_.join();
    }
}

void Recorder::Write(calls::CallRecord& record)
{
    RecordedCall out;
    out.record = &record;
    const bool byCall = options_.layout != calls::CallLayout::kStreams;
    std::vector<OutputFile> files;
    for (const timeline::RtpStream& s : record.streams) {
        StreamSink& sink = decoding_->sink(s.id);
        if (options_.memory) {
            out.pcm.push_back(static_cast<MemoryStreams&>(sink).Take(s.id));
        } else {
            auto& fileSink = static_cast<FileStreams&>(sink);
            OutputFile f = fileSink.file(s.id);
            if (!decoding_->Decoded(s.id, false) && f.error.empty())
                f.error = "out of memory";
            files.push_back(f);
            fileSink.Forget(s.id);
        }
        if (options_.loudness)
            out.loudness.push_back(decoding_->TakeLoudness(s.id));
        decoding_->Forget(s.id);
    }
    if (options_.memory) {
        if (byCall)
            out.written = ComposeCallFromMemory(record, options_.layout, out.pcm, out.samples, options_.stop);
    } else if (byCall) {
        out.written = WriteCallFromFiles(record, options_.layout, options_.prefix, files, names_);
        if (!out.written.file.error.empty() && options_.failed)
            options_.failed(base::Status::Failure(out.written.status, out.written.file.error), out.written.file.error);
    } else {
        out.streamFiles = std::move(files);
    }
    if (options_.recorded)
        options_.recorded(out);
}

base::ExitCode Recorder::status() const
{
    std::lock_guard<std::mutex> lock(statusMutex_);
    return decoding_->outOfMemory() ? std::max(status_, base::kExitOutOfMemory) : status_;
}

}  // namespace mervox::media::recorder
