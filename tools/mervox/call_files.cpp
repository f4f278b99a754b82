#include "call_files.h"

#include <algorithm>
#include <map>
#include <new>

#include "base/file_names.h"
#include "base/parallel_for.h"
#include "exit_codes.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace mervox::cli {

std::string ScratchPrefix(const std::string& prefix)
{
    const size_t start = media::platform::NameStart(prefix);
    const std::string dir = prefix.substr(0, start);
    const std::string name = prefix.substr(start);
    // Cut so that the scratch names stay within the file system's limit.
    return dir + "." + name.substr(0, 150) + "-" + std::to_string(media::platform::ProcessId()) + "-stream-";
}

CallFiles WriteCallFiles(const media::capture::CaptureReport& report, media::calls::CallLayout layout,
                         const std::string& prefix, const std::function<const StreamFiles::File&(size_t)>& scratchOf,
                         unsigned workers, const Console& console)
{
    CallFiles out;
    const size_t calls = report.calls.size();
    out.audio.resize(calls);
    out.files.resize(calls);
    out.callOf.assign(report.streams.size(), SIZE_MAX);
    const auto samplesOf = [&](size_t stream) -> uint64_t {
        const StreamFiles::File& f = scratchOf(report.streams[stream].id);
        media::platform::FileStatus st;
        if (!f.error.empty() || media::platform::StatPath(f.path, &st) != 0)
            return 0;
        return st.size / 2;
    };
    media::base::UniqueNames names;
    std::vector<std::map<size_t, std::string>> sources(calls);  // per call: its streams' scratch files
    for (size_t c = 0; c < calls; ++c) {
        const media::calls::Call& call = report.calls[c];
        for (const media::calls::CallStream& cs : call.streams) {
            out.callOf[cs.stream] = c;
            sources[c].emplace(cs.stream, scratchOf(report.streams[cs.stream].id).path);
        }
        // Re-anchorings look for quiet in the decoded audio; the files are
        // closed again before the next call.
        media::calls::FileSampleSource decoded(sources[c]);
        out.audio[c] = media::calls::PlaceCall(call, report.streams, layout, samplesOf, &decoded);
        if (out.audio[c].channels == 0)
            continue;
        // Cut to the file system's limit on a name, the start time and the
        // "-N" of a name taken kept: the parties first, then the prefix.
        const std::string stem = media::calls::CallFileStem(call, report.dialogs, report.streams, out.audio[c].start);
        const size_t parties = std::min(stem.find('-'), stem.size());
        out.files[c].path = names.Claim(prefix, "-" + stem.substr(0, parties), stem.substr(parties), ".wav");
        for (const media::calls::CallStream& cs : call.streams) {
            const StreamFiles::File& f = scratchOf(report.streams[cs.stream].id);
            if (!f.error.empty() || !media::platform::Exists(f.path))
                out.files[c].error = out.files[c].path + ": not written: stream " +
                                     media::capture::SsrcText(report.streams[cs.stream].ssrc) +
                                     " of the call was not decoded" + (f.error.empty() ? "" : " (" + f.error + ")");
        }
    }
    std::vector<media::base::Status> written(calls);
    media::base::ParallelFor(calls, workers, [&](size_t c) {
        const StreamFiles::File& file = out.files[c];
        if (!file.path.empty() && file.error.empty()) {
            try {
                media::calls::FileSampleSource source(sources[c]);
                // A stereo file holds half as long as a mono one.
                written[c] = media::calls::WriteCallFile(
                    out.audio[c], source, file.path,
                    out.audio[c].channels == 2 ? "--layout mixed writes the call as one mono file, twice as long" : "");
            } catch (const std::bad_alloc&) {
                written[c] = media::base::OutOfMemory();
            }
        }
        for (const auto& [stream, path] : sources[c])
            media::platform::RemoveFile(path);
    });
    for (size_t c = 0; c < calls; ++c) {
        StreamFiles::File& file = out.files[c];
        if (!file.error.empty()) {
            console.Error(file.error);
            out.status = std::max<int>(out.status, kExitOutputError);
        } else if (!written[c].ok()) {
            file.error = written[c].message().empty() ? file.path + ": not written" : written[c].message();
            console.Error(file.error);
            out.status = std::max<int>(
                out.status, written[c].code() == media::base::kExitOk ? kExitOutputError : written[c].code());
        }
    }
    // Streams in no call (none, as calls are built) leave nothing either.
    for (const media::timeline::RtpStream& s : report.streams)
        media::platform::RemoveFile(scratchOf(s.id).path);
    return out;
}

}  // namespace mervox::cli
