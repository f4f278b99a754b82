#include "recorder/call_writer.h"

#include <algorithm>
#include <map>
#include <new>

#include "base/date_fields.h"
#include "base/make_directories.h"
#include "capture/capture.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace mervox::media::recorder {
namespace {

// Calls that began this long before the latest one cannot take its name:
// a day (two calls of the same parties and second, one of them a day long).
constexpr double kNameMemorySeconds = 86400;

}  // namespace

std::string FiledPrefix(const std::string& prefix, double time)
{
    return base::HasDateFields(prefix) ? base::ExpandDateFields(prefix, time) : prefix;
}

WrittenCall WriteCallFromFiles(const calls::CallRecord& record, calls::CallLayout layout, const std::string& prefix,
                               const std::vector<OutputFile>& scratch, base::UniqueNames& names)
{
    WrittenCall out;
    std::map<size_t, std::string> sources;
    for (size_t k = 0; k < record.streams.size(); ++k)
        sources.emplace(k, scratch[k].path);
    const auto removeScratch = [&] {
        for (const auto& [stream, path] : sources)
            platform::RemoveFile(path);
    };
    try {
        // Re-anchorings look for quiet in the decoded audio; the files are
        // closed again before the recording is written.
        {
            calls::FileSampleSource decoded(sources);
            out.audio = calls::PlaceCall(record.call, record.streams, layout, &decoded);
        }
        if (out.audio.channels == 0) {
            removeScratch();
            return out;
        }
        // Cut to the file system's limit on a name, the start time and the
        // "-N" of a name taken kept: the parties first, then the prefix.
        const std::string stem = calls::CallFileStem(record.call, record.dialogs, record.streams, out.audio.start);
        const size_t parties = std::min(stem.find('-'), stem.size());
        const std::string filed = FiledPrefix(prefix, out.audio.start);
        out.file.path =
            names.Claim(filed, "-" + stem.substr(0, parties), stem.substr(parties), ".wav", out.audio.start);
        names.Forget(out.audio.start - kNameMemorySeconds);
        if (filed != prefix) {
            const base::Status made = base::MakeDirectories(filed.substr(0, platform::NameStart(filed)));
            if (!made.ok()) {
                out.file.error = out.file.path + ": not written: " + made.message();
                out.status = made.code();
            }
        }
        for (size_t k = 0; k < record.streams.size() && out.file.error.empty(); ++k)
            if (!scratch[k].error.empty() || !platform::Exists(scratch[k].path)) {
                out.file.error = out.file.path + ": not written: stream " + capture::SsrcText(record.streams[k].ssrc) +
                                 " of the call was not decoded" +
                                 (scratch[k].error.empty() ? "" : " (" + scratch[k].error + ")");
                out.status = base::kExitOutputError;
            }
        if (out.file.error.empty()) {
            calls::FileSampleSource source(sources);
            // A stereo file holds half as long as a mono one.
            const base::Status written = calls::WriteCallFile(
                out.audio, source, out.file.path,
                out.audio.channels == 2 ? "--layout mixed writes the call as one mono file, twice as long" : "");
            if (!written.ok()) {
                out.file.error = written.message().empty() ? out.file.path + ": not written" : written.message();
                out.status = written.code() == base::kExitOk ? base::kExitOutputError : written.code();
            }
        }
    } catch (const std::bad_alloc&) {
        out.file.error = out.file.path.empty() ? "out of memory" : out.file.path + ": out of memory";
        out.status = base::kExitOutOfMemory;
    }
    removeScratch();
    return out;
}

WrittenCall ComposeCallFromMemory(const calls::CallRecord& record, calls::CallLayout layout,
                                  const std::vector<std::vector<int16_t>>& pcm, std::vector<int16_t>& samples,
                                  const base::StopRequested& stop)
{
    WrittenCall out;
    calls::MemorySampleSource decoded(pcm);
    out.audio = calls::PlaceCall(record.call, record.streams, layout, &decoded);
    if (out.audio.channels > 0)
        samples = calls::ComposeCallInMemory(out.audio, pcm, stop);
    return out;
}

}  // namespace mervox::media::recorder
