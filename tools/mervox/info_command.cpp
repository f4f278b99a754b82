// mervox info IN [--json]: what a stream file holds, counted frame by frame
// as the input is read in blocks (memory does not grow with its length).
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/names.h"
#include "commands.h"
#include "console.h"
#include "exit_codes.h"
#include "mervox.h"
#include "output/report_output.h"
#include "stream/stream_reader.h"
#include "stream/stream_stats.h"

namespace mervox::cli {
namespace {

using media::stream::FrameType;

struct InfoOptions {
    std::string input;
    bool json = false;
    bool force = false;
};

// The indices of faulty frames listed in a report; the count is complete.
constexpr size_t kListedFaultyFrames = 1000;

struct StreamSummary {
    uint64_t bytes = 0;
    media::stream::StreamStats stats;
    uint64_t faultyFrames = 0;                // speech frames the unpacking rejects
    std::vector<uint64_t> firstFaultyFrames;  // the first kListedFaultyFrames of them
    std::optional<media::stream::Truncation> truncated;
};

uint64_t Count(const StreamSummary& s, FrameType type) { return s.stats.byType[static_cast<int>(type)]; }

std::string Json(const std::string& path, const StreamSummary& s)
{
    nlohmann::json j;
    j["file"] = path == "-" ? "<stdin>" : path;
    j["bytes"] = s.bytes;
    j["frames"] = s.stats.frames;
    j["duration_seconds"] = s.stats.DurationSeconds();
    j["frames_by_type"] = {{"rate_6300", Count(s, FrameType::kRate6300)},
                           {"rate_5300", Count(s, FrameType::kRate5300)},
                           {"silence_descriptor", Count(s, FrameType::kSilenceDescriptor)},
                           {"untransmitted", Count(s, FrameType::kUntransmitted)}};
    j["faulty_frames"] = s.firstFaultyFrames;
    j["faulty_frame_count"] = s.faultyFrames;
    j["rate_switches"] = s.stats.rateSwitches;
    if (s.truncated)
        j["truncated"] = {{"offset", s.truncated->offset},
                          {"bytes", s.truncated->present},
                          {"expected_bytes", s.truncated->expected}};
    else
        j["truncated"] = nullptr;
    // File names need not be UTF-8; dump() would throw on them.
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

#ifdef __MINGW32__
// mingw-w64's C99 printf (libstdc++ selects it), not the system's.
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif
std::string Format(const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

std::string Text(const std::string& name, const StreamSummary& s)
{
    auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    std::string t = "file:               " + name + "\n";
    t += Format("bytes:              %llu\n", u(s.bytes));
    t += Format("frames:             %llu (%.2f s)\n", u(s.stats.frames), s.stats.DurationSeconds());
    t += Format("  6.3 kbit/s:       %llu\n", u(Count(s, FrameType::kRate6300)));
    t += Format("  5.3 kbit/s:       %llu\n", u(Count(s, FrameType::kRate5300)));
    t += Format("  silence (SID):    %llu\n", u(Count(s, FrameType::kSilenceDescriptor)));
    t += Format("  untransmitted:    %llu\n", u(Count(s, FrameType::kUntransmitted)));
    t += Format("faulty frames:      %llu", u(s.faultyFrames));
    for (size_t i = 0; i < s.firstFaultyFrames.size() && i < 10; ++i)
        t += Format("%s%llu", i == 0 ? " (frame " : ", ", u(s.firstFaultyFrames[i]));
    t += s.faultyFrames == 0 ? "\n" : s.faultyFrames > 10 ? ", ...)\n" : ")\n";
    t += Format("rate switches:      %llu\n", u(s.stats.rateSwitches));
    if (s.truncated)
        t += Format("truncated:          at byte %llu (%zu of %zu bytes)\n", u(s.truncated->offset),
                    s.truncated->present, s.truncated->expected);
    return t;
}

int RunInfo(const InfoOptions& options, const GlobalOptions& global)
{
    Console console(global.quiet);
    media::base::Result<media::stream::StreamReader> opened =
        media::stream::StreamReader::Open(options.input, {!options.force, "--force"});
    if (!opened.ok()) {
        console.Error(opened.status().message());
        return opened.status().code();
    }
    media::stream::StreamReader& reader = opened.value();
    const std::string name = reader.input().name();
    StreamSummary summary;
    media::stream::Frame frame;
    while (reader.Next(&frame)) {
        summary.stats.AddFrame(frame.type);
        if (media::stream::IsSpeech(frame.type) && mervox_frame_faults(frame.bytes, frame.length) > 0) {
            if (summary.firstFaultyFrames.size() < kListedFaultyFrames)
                summary.firstFaultyFrames.push_back(frame.index);
            ++summary.faultyFrames;
        }
    }
    if (!reader.status().ok()) {
        console.Error(reader.status().message());
        return reader.status().code();
    }
    summary.bytes = reader.input().bytesRead();
    summary.truncated = reader.Truncated();
    if (summary.stats.frames == 0) {
        console.Error(DescribeTruncation(name, *summary.truncated) + ", no whole frame");
        return kExitBadInput;
    }
    if (summary.truncated)
        console.Warning(DescribeTruncation(name, *summary.truncated));
    const media::base::Status written =
        media::output::WriteReport(options.json ? Json(options.input, summary) : Text(name, summary));
    if (written.readerGone())
        return kExitOk;
    if (!written.ok()) {
        console.Error(written.message());
        return written.code();
    }
    return kExitOk;
}

}  // namespace

Subcommand AddInfoCommand(CLI::App& parent)
{
    auto options = std::make_shared<InfoOptions>();
    CLI::App* app = parent.add_subcommand("info", "Describe a stream file: frames by type, faults, duration");
    app->add_option("IN", options->input, "Stream file, '-' for stdin")->required();
    app->add_flag("--json", options->json, "Print JSON instead of text");
    app->add_flag("--force", options->force,
                  "Count the frames of an input even when its first bytes are another format's (a capture, WAV, "
                  "text, ...), which is otherwise refused");
    return {app, [options](const GlobalOptions& global) { return RunInfo(*options, global); }};
}

}  // namespace mervox::cli
