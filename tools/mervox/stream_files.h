// The output files of `mervox pcap`: one WAV file per stream, written as
// the stream is decoded. Used by one thread at a time (with -j, each
// worker has its own for the streams it decodes, with its share of the
// limits).
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "capture/capture.h"
#include "console.h"
#include "exit_codes.h"
#include "output/output_pool.h"
#include "output/pcm_output.h"
#include "output/temporary_files.h"

namespace mervox::cli {

// PREFIX-0xSSRC.wav; a second stream with the same SSRC (other addresses,
// or after it had ended) gets -2, a third -3, ...
inline std::string OutputPath(const std::string& prefix, const media::timeline::StreamInfo& s)
{
    return prefix + "-" + media::capture::SsrcText(s.ssrc) + (s.number > 1 ? "-" + std::to_string(s.number) : "") +
           ".wav";
}

// One WAV file per stream, written as the stream is decoded and moved into
// place when it ends; a stream whose file fails does not stop the others.
// With a `scratch` prefix, each stream goes instead to SCRATCH<id>.raw (raw
// samples, removed on a terminating signal) for a call's recording to be
// made of it once the capture has been read.
// The files share an OutputPool: a stream's samples wait in memory until
// there are enough of them, and a bounded number of files is open at once.
class StreamFiles {
public:
    StreamFiles(std::string prefix, const Console& console, const media::output::OutputPool::Limits& limits,
                std::string scratch = "")
        : prefix_(std::move(prefix)),
          scratch_(std::move(scratch)),
          console_(console),
          pool_(
              limits, scratch_.empty() ? media::output::OutputPool::Opener() : [](const std::string& path) {
                  return media::output::OpenPcmOutput(path, media::output::PcmFormat::kRaw);
              })
    {}

    struct File {
        std::string path;
        std::string error;     // empty: written (or being written)
        bool writing = false;  // started, not ended, not failed
    };

    void StreamStarted(size_t id, const media::timeline::StreamInfo& info)
    {
        File& f = files_[id];
        f.path = scratch_.empty() ? OutputPath(prefix_, info) : scratch_ + std::to_string(id) + ".raw";
        if (!scratch_.empty())
            scratchFiles_[id] = std::make_unique<media::output::TemporaryFileRegistration>(f.path);
        f.writing = true;
        pool_.Add(id, f.path);
    }

    // The next samples of stream `id`'s file; false when the file has failed.
    bool Samples(size_t id, const int16_t* pcm, size_t count)
    {
        File& f = files_.at(id);
        if (!f.writing)
            return false;
        const media::base::Status written = pool_.Write(id, pcm, count);
        if (!written.ok()) {
            Fail(f, written);
            return false;
        }
        return true;
    }

    void StreamEnded(size_t id)
    {
        File& f = files_[id];
        if (f.writing) {
            f.writing = false;
            const media::base::Status finished = pool_.Finish(id);
            if (!finished.ok())
                Fail(f, finished);
        }
    }

    const File& file(size_t id) { return files_[id]; }
    // The worst exit status of the outputs (kExitOk when all were written).
    int status() const { return status_; }

private:
    void Fail(File& f, const media::base::Status& why)
    {
        // A closed pipe is no failure of the others; it still leaves this file unwritten.
        f.error = why.message().empty() ? f.path + ": reader went away" : why.message();
        f.writing = false;  // the pool has abandoned what was written
        console_.Error(f.error);
        status_ = std::max<int>(status_, why.readerGone() ? kExitOutputError : why.code());
    }

    std::string prefix_;
    std::string scratch_;
    const Console& console_;
    media::output::OutputPool pool_;
    std::map<size_t, File> files_;
    std::map<size_t, std::unique_ptr<media::output::TemporaryFileRegistration>> scratchFiles_;
    int status_ = kExitOk;
};

}  // namespace mervox::cli
