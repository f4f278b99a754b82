// mervox info IN [--json]: what a stream file holds.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "exit_codes.h"
#include "input_file.h"
#include "mervox.h"
#include "stream_reader.h"

namespace mervox::cli {
namespace {

struct InfoOptions {
    std::string input;
    bool json = false;
};

struct StreamSummary {
    size_t bytes = 0;
    size_t byType[4] = {};
    std::vector<size_t> faultyFrames;  // indices of speech frames the unpacking rejects
    size_t rateSwitches = 0;           // 6.3 <-> 5.3 changes between speech frames
    size_t frames = 0;
    StreamSplit split;
};

StreamSummary Summarize(const std::vector<uint8_t>& stream)
{
    StreamSummary s;
    s.bytes = stream.size();
    s.split = SplitStream(stream.data(), stream.size());
    s.frames = s.split.frames.size();
    int lastRate = -1;
    for (size_t k = 0; k < s.frames; ++k) {
        const StreamFrame& frame = s.split.frames[k];
        ++s.byType[static_cast<int>(frame.type)];
        if (!frame.speech())
            continue;
        if (mervox_frame_faults(stream.data() + frame.offset, frame.length()) > 0)
            s.faultyFrames.push_back(k);
        const int rate = static_cast<int>(frame.type);
        if (lastRate >= 0 && rate != lastRate)
            ++s.rateSwitches;
        lastRate = rate;
    }
    return s;
}

void PrintJson(const std::string& name, const StreamSummary& s)
{
    nlohmann::json j;
    j["file"] = name;
    j["bytes"] = s.bytes;
    j["frames"] = s.frames;
    j["duration_seconds"] = static_cast<double>(s.frames) * 30 / 1000.0;
    j["frames_by_type"] = {{"rate_6300", s.byType[0]},
                           {"rate_5300", s.byType[1]},
                           {"silence_descriptor", s.byType[2]},
                           {"untransmitted", s.byType[3]}};
    j["faulty_frames"] = s.faultyFrames;
    j["rate_switches"] = s.rateSwitches;
    if (s.split.truncated)
        j["truncated"] = {{"offset", s.split.truncatedOffset},
                          {"bytes", s.split.truncatedLength},
                          {"expected_bytes", s.split.truncatedExpected}};
    else
        j["truncated"] = nullptr;
    // File names need not be UTF-8; dump() would throw on them.
    std::printf("%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void PrintText(const std::string& name, const StreamSummary& s)
{
    std::printf("file:               %s\n", name.c_str());
    std::printf("bytes:              %zu\n", s.bytes);
    std::printf("frames:             %zu (%.2f s)\n", s.frames, static_cast<double>(s.frames) * 0.03);
    std::printf("  6.3 kbit/s:       %zu\n", s.byType[0]);
    std::printf("  5.3 kbit/s:       %zu\n", s.byType[1]);
    std::printf("  silence (SID):    %zu\n", s.byType[2]);
    std::printf("  untransmitted:    %zu\n", s.byType[3]);
    std::printf("faulty frames:      %zu", s.faultyFrames.size());
    for (size_t i = 0; i < s.faultyFrames.size() && i < 10; ++i)
        std::printf("%s%zu", i == 0 ? " (frame " : ", ", s.faultyFrames[i]);
    std::printf("%s\n", s.faultyFrames.empty() ? "" : s.faultyFrames.size() > 10 ? ", ...)" : ")");
    std::printf("rate switches:      %zu\n", s.rateSwitches);
    if (s.split.truncated)
        std::printf("truncated:          at byte %zu (%zu of %zu bytes)\n", s.split.truncatedOffset,
                    s.split.truncatedLength, s.split.truncatedExpected);
}

int RunInfo(const InfoOptions& options, const GlobalOptions& global)
{
    Console console(global.quiet);
    const std::string name = DisplayName(options.input);
    std::vector<uint8_t> stream;
    std::string error;
    if (!ReadStreamInput(options.input, &stream, &error)) {
        console.Error(error);
        return kExitBadInput;
    }
    const StreamSummary summary = Summarize(stream);
    if (summary.split.truncated)
        console.Warning(DescribeTruncation(name, summary.split));
    if (options.json)
        PrintJson(name, summary);
    else
        PrintText(name, summary);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        console.Error(std::string("<stdout>: write failed: ") + std::strerror(errno));
        return kExitOutputError;
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
    return {app, [options](const GlobalOptions& global) { return RunInfo(*options, global); }};
}

}  // namespace mervox::cli
