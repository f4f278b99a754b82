#include "recorder/stream_files.h"

#include <utility>

#include "base/date_fields.h"
#include "base/make_directories.h"
#include "capture/capture.h"
#include "output/pcm_output.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace mervox::media::recorder {

std::string StreamFilePath(const std::string& prefix, const timeline::StreamInfo& s)
{
    const std::string filed = base::HasDateFields(prefix) ? base::ExpandDateFields(prefix, s.firstArrival) : prefix;
    return filed + "-" + capture::SsrcText(s.ssrc) + (s.number > 1 ? "-" + std::to_string(s.number) : "") + ".wav";
}

FileStreams::FileStreams(std::string prefix, const output::OutputPool::Limits& limits, FailureReport failed,
                         std::string scratch)
    : prefix_(std::move(prefix)),
      scratch_(std::move(scratch)),
      failed_(std::move(failed)),
      pool_(
          limits, scratch_.empty() ? output::OutputPool::Opener() : [](const std::string& path) {
              return output::OpenScratchOutput(path, output::PcmFormat::kRaw);
          })
{}

void FileStreams::Started(const timeline::StreamInfo& info)
{
    const std::string path =
        scratch_.empty() ? StreamFilePath(prefix_, info) : scratch_ + std::to_string(info.id) + ".raw";
    if (scratch_.empty() && base::HasDateFields(prefix_)) {
        // This stream's folder (by its date) may be new.
        const base::Status made = base::MakeDirectories(path.substr(0, platform::NameStart(path)));
        if (!made.ok()) {
            const std::string error = path + ": not written: " + made.message();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                files_[info.id] = OutputFile{path, error, false};
            }
            if (failed_)
                failed_(made, error);
            return;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    OutputFile& f = files_[info.id];
    f.path = path;
    if (!scratch_.empty())
        scratchFiles_[info.id] = std::make_unique<output::TemporaryFileRegistration>(f.path);
    f.writing = true;
    pool_.Add(info.id, f.path);
}

bool FileStreams::Samples(size_t id, const int16_t* pcm, size_t count)
{
    OutputFile* f = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f = &files_.at(id);  // map entries stay where they are
        if (!f->writing)
            return false;
    }
    const base::Status written = pool_.Write(id, pcm, count);
    if (!written.ok()) {
        Fail(*f, written);
        return false;
    }
    return true;
}

void FileStreams::Ended(size_t id)
{
    OutputFile* f = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f = &files_[id];
        if (!f->writing)
            return;
        f->writing = false;
    }
    const base::Status finished = pool_.Finish(id);
    if (!finished.ok())
        Fail(*f, finished);
}

OutputFile FileStreams::file(size_t id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = files_.find(id);
    return found == files_.end() ? OutputFile{} : found->second;
}

void FileStreams::Forget(size_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    files_.erase(id);
    scratchFiles_.erase(id);
}

void FileStreams::Fail(OutputFile& f, const base::Status& why)
{
    std::string error;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A closed pipe is no failure of the others; it still leaves this file unwritten.
        f.error = why.message().empty() ? f.path + ": reader went away" : why.message();
        f.writing = false;  // the pool has abandoned what was written
        error = f.error;
    }
    if (failed_)
        failed_(why, error);
}

void MemoryStreams::Started(const timeline::StreamInfo& info)
{
    std::lock_guard<std::mutex> lock(mutex_);
    pcm_[info.id];
}

bool MemoryStreams::Samples(size_t id, const int16_t* pcm, size_t count)
{
    std::vector<int16_t>* all = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        all = &pcm_[id];
    }
    all->insert(all->end(), pcm, pcm + count);
    check_.Frame();  // one frame a call
    return true;
}

std::vector<int16_t> MemoryStreams::Take(size_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = pcm_.find(id);
    if (found == pcm_.end())
        return {};
    std::vector<int16_t> pcm = std::move(found->second);
    pcm_.erase(found);
    return pcm;
}

}  // namespace mervox::media::recorder
