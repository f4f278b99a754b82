// The output files of `mervox pcap`: one WAV file per stream, written as
// the stream is decoded. Used by one thread at a time (with -j, each
// worker has its own for the streams it decodes).
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "capture.h"
#include "console.h"
#include "exit_codes.h"
#include "pcm_output.h"

namespace mervox::cli {

// PREFIX-0xSSRC.wav; a second stream with the same SSRC (other addresses,
// or after it had ended) gets -2, a third -3, ...
inline std::string OutputPath(const std::string& prefix, const capture::StreamInfo& s)
{
    return prefix + "-" + capture::SsrcText(s.ssrc) + (s.number > 1 ? "-" + std::to_string(s.number) : "") + ".wav";
}

// One WAV file per stream, written as the stream is decoded and moved into
// place when it ends; a stream whose file fails does not stop the others.
class StreamFiles {
public:
    StreamFiles(std::string prefix, const Console& console) : prefix_(std::move(prefix)), console_(console) {}

    struct File {
        std::string path;
        std::unique_ptr<tools::PcmSink> output;
        std::string error;                                  // empty: written
        bool writing() const { return output != nullptr; }  // not failed
    };

    void StreamStarted(size_t id, const capture::StreamInfo& info)
    {
        File& f = files_[id];
        f.path = OutputPath(prefix_, info);
        tools::Result<std::unique_ptr<tools::PcmSink>> out = tools::OpenPcmOutput(f.path, tools::PcmFormat::kWav);
        if (out.ok())
            f.output = std::move(out.value());
        else
            Fail(f, out.status());
    }

    // The next samples of a stream's file (looked up with Find()); false
    // when the file has failed.
    bool Samples(File& f, const int16_t* pcm, size_t count)
    {
        if (!f.output)
            return false;
        const tools::Status written = f.output->Write(pcm, count);
        if (!written.ok()) {
            Fail(f, written);
            return false;
        }
        return true;
    }

    void StreamEnded(size_t id)
    {
        File& f = files_[id];
        if (f.output) {
            const tools::Status finished = f.output->Finish();
            if (!finished.ok())
                Fail(f, finished);
        }
        f.output.reset();
    }

    const File& file(size_t id) { return files_[id]; }
    // Stream `id`'s file, once it has started; valid as long as this object.
    File& Find(size_t id) { return files_.at(id); }
    // The worst exit status of the outputs (kExitOk when all were written).
    int status() const { return status_; }

private:
    void Fail(File& f, const tools::Status& why)
    {
        // A closed pipe is no failure of the others; it still leaves this file unwritten.
        f.error = why.message().empty() ? f.path + ": reader went away" : why.message();
        f.output.reset();  // abandons what was written
        console_.Error(f.error);
        status_ = std::max<int>(status_, why.readerGone() ? kExitOutputError : why.code());
    }

    std::string prefix_;
    const Console& console_;
    std::map<size_t, File> files_;
    int status_ = kExitOk;
};

}  // namespace mervox::cli
