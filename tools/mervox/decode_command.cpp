// mervox decode IN... [-o OUT] [-j N] [--skip-existing]: stream files to
// WAV or raw PCM. One input goes to OUT (default: beside it); several go
// beside their inputs or into the directory OUT, decoded on N threads,
// each exactly as it would be alone.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/names.h"
#include "base/parallel_for.h"
#include "commands.h"
#include "console.h"
#include "decode_file.h"
#include "exit_codes.h"
#include "jobs_option.h"
#include "output/pcm_format.h"
#include "output/pcm_output.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace mervox::cli {
namespace {

using media::base::DisplayName;
using media::base::Status;
using media::output::PcmFormat;

struct DecodeOptions {
    std::vector<std::string> inputs;
    std::string output;
    std::string format;
    LossSettings loss;
    unsigned jobs = 0;  // 0: one per processor
    bool skipExisting = false;
    bool force = false;
};

// Option checks on the text, before CLI11 converts it: its conversion
// wraps "-5" and saturates 2^64 into seeds silently, and its range check
// lets "nan" through and calls "0.5abc" out of range.
std::string SeedText(const std::string& text)
{
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, value);
    return r.ec == std::errc() && r.ptr == end ? "" : "seed must be a whole number from 0 to 2^64-1";
}

std::string DropRateText(const std::string& text)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || std::isnan(value))
        return "'" + media::base::EscapeControlCharacters(text) + "' is not a number";
    return value >= 0.0 && value <= 1.0 ? "" : "drop rate must be from 0 to 1";
}

// The output of `input` inside `dir`: its name with the format's extension.
std::string PathInDirectory(const std::string& dir, const std::string& input, PcmFormat format)
{
    const std::string stem = media::base::PathWithoutExtension(media::platform::BaseName(input));
    return media::platform::Join(dir, stem + (format == PcmFormat::kRaw ? ".raw" : ".wav"));
}

// Where each input goes, or the usage error that stops the whole run
// before anything is decoded (printed here).
std::optional<std::vector<DecodeJob>> PlanJobs(const DecodeOptions& options, const Console& console, int* status)
{
    *status = kExitUsage;
    const std::vector<std::string>& inputs = options.inputs;
    const bool several = inputs.size() > 1;
    const std::optional<PcmFormat> forced =
        options.format.empty() ? std::nullopt : media::output::PcmFormatFromName(options.format);
    if (!options.format.empty() && !forced) {
        console.Error("unknown --format '" + media::base::EscapeControlCharacters(options.format) +
                      "' (use wav or raw)");
        return std::nullopt;
    }
    if (several) {
        if (std::find(inputs.begin(), inputs.end(), "-") != inputs.end()) {
            console.Error("'-' (stdin) can only be decoded as the only input");
            return std::nullopt;
        }
        if (options.output == "-") {
            console.Error("-o -: several inputs cannot share stdout; give a directory");
            return std::nullopt;
        }
        if (!options.loss.mask.empty()) {
            console.Error("--loss: a loss mask belongs to one stream; decode its stream on its own");
            return std::nullopt;
        }
    }
    if (inputs.front() == "-" && options.loss.mask == "-") {
        console.Error("the stream and the loss mask cannot both be read from stdin ('-')");
        return std::nullopt;
    }

    // OUT is a directory for several inputs, and for one input when it is
    // an existing directory or ends in '/'. A missing one is created.
    const std::string& out = options.output;
    const bool intoDirectory =
        !out.empty() && (several || media::platform::EndsWithSeparator(out) || media::output::IsDirectory(out));
    if (intoDirectory && !media::output::IsDirectory(out) && media::platform::Exists(out)) {
        console.Error(DisplayName(out) + ": not a directory (several inputs need -o DIR)");
        return std::nullopt;
    }

    std::vector<DecodeJob> jobs;
    std::map<std::string, std::string> outputs;  // output path -> the input that writes it
    for (const std::string& input : inputs) {
        DecodeJob job;
        job.input = input;
        if (intoDirectory)
            job.output = PathInDirectory(out, input, forced.value_or(PcmFormat::kWav));
        else if (!out.empty())
            job.output = out;
        else
            job.output = input == "-" ? "-" : media::base::PathWithoutExtension(input) + ".wav";
        const std::optional<PcmFormat> format = forced ? forced : media::output::PcmFormatFromPath(job.output);
        if (!format) {
            console.Error(DisplayName(job.output) + ": unknown output extension (use .wav, .raw or .pcm, or --format)");
            return std::nullopt;
        }
        job.format = *format;
        job.force = options.force;
        const auto [where, added] = outputs.emplace(job.output, input);
        if (!added) {
            console.Error(DisplayName(input) + " and " + DisplayName(where->second) + " would both be decoded to " +
                          DisplayName(job.output));
            return std::nullopt;
        }
        jobs.push_back(job);
    }
    // An output that is another input would destroy it while it is read.
    if (several) {
        std::set<std::pair<uint64_t, uint64_t>> inputFiles;
        media::platform::FileStatus st;
        for (const std::string& input : inputs)
            if (media::platform::StatPath(input, &st) == 0 && st.kind == media::platform::FileKind::kRegular)
                inputFiles.emplace(st.device, st.inode);
        for (const DecodeJob& job : jobs)
            if (media::platform::StatPath(job.output, &st) == 0 && inputFiles.count({st.device, st.inode})) {
                console.Error(DisplayName(job.output, true) + ": output of " + DisplayName(job.input) +
                              " would overwrite an input");
                return std::nullopt;
            }
    }
    // Created only now that the command line holds. Another run (say a
    // GNU parallel job) may create it at the same time.
    const int error = intoDirectory ? media::platform::MakeDirectory(out) : 0;
    if (error != 0 && !media::output::IsDirectory(out)) {
        console.Error(Status::SystemFailure(kExitOutputError, DisplayName(out) + ": cannot create the directory", error)
                          .message());
        *status = kExitOutputError;
        return std::nullopt;
    }
    *status = kExitOk;
    return jobs;
}

// A finished output: outputs are complete or absent (written to a
// temporary file and renamed), so an existing regular file is one that an
// earlier run finished.
bool OutputExists(const std::string& path)
{
    media::platform::FileStatus st;
    return path != "-" && media::platform::StatPath(path, &st) == 0 && st.kind == media::platform::FileKind::kRegular;
}

// The bytes of the regular input files, for the progress line.
uint64_t TotalInputBytes(const std::vector<DecodeJob>& jobs, const std::vector<bool>& skipped)
{
    uint64_t total = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        media::platform::FileStatus st;
        const int error = jobs[i].input == "-" ? media::platform::StatDescriptor(media::platform::kStandardInput, &st)
                                               : media::platform::StatPath(jobs[i].input, &st);
        if (!skipped[i] && error == 0 && st.kind == media::platform::FileKind::kRegular)
            total += st.size;
    }
    return total;
}

int RunDecode(const DecodeOptions& options, const GlobalOptions& global)
{
    Console console(global.quiet);
    int status = kExitOk;
    const std::optional<std::vector<DecodeJob>> planned = PlanJobs(options, console, &status);
    if (!planned)
        return status;
    const std::vector<DecodeJob>& jobs = *planned;

    std::vector<bool> skipped(jobs.size(), false);
    size_t skippedCount = 0;
    if (options.skipExisting)
        for (size_t i = 0; i < jobs.size(); ++i)
            if (OutputExists(jobs[i].output)) {
                skipped[i] = true;
                ++skippedCount;
            }

    const size_t toDecode = jobs.size() - skippedCount;
    const std::string label = jobs.size() == 1 ? "decoding " + DisplayName(jobs.front().input)
                                               : "decoding " + std::to_string(toDecode) + " files";
    DecodeProgress progress(console, label, TotalInputBytes(jobs, skipped));
    std::vector<int> results(jobs.size(), kExitOk);
    const unsigned workers = options.jobs ? options.jobs : media::base::DefaultWorkerCount();
    const auto outOfMemory = [&](size_t i) {
        // This input's output was abandoned while the stack unwound; the others go on.
        console.Error(jobs.size() == 1 ? "out of memory" : DisplayName(jobs[i].input) + ": out of memory");
        results[i] = kExitOutOfMemory;
    };
    media::base::ParallelFor(jobs.size(), workers, [&](size_t i) {
        if (skipped[i])
            return;
        try {
            results[i] = DecodeFile(jobs[i], options.loss, console, progress);
        } catch (const std::bad_alloc&) {
            outOfMemory(i);
        } catch (const std::length_error&) {
            outOfMemory(i);
        }
    });
    console.EndProgress();

    const size_t failed =
        static_cast<size_t>(std::count_if(results.begin(), results.end(), [](int r) { return r != kExitOk; }));
    if (jobs.size() > 1 || skippedCount > 0)
        console.Note(std::to_string(jobs.size()) + (jobs.size() == 1 ? " input: " : " inputs: ") +
                     std::to_string(toDecode - failed) + " decoded, " + std::to_string(skippedCount) +
                     " skipped (output exists), " + std::to_string(failed) + " failed");
    return *std::max_element(results.begin(), results.end());
}

}  // namespace

Subcommand AddDecodeCommand(CLI::App& parent)
{
    auto options = std::make_shared<DecodeOptions>();
    CLI::App* app = parent.add_subcommand("decode", "Decode stream files to WAV or raw 16-bit PCM");
    app->add_option("IN", options->inputs, "Stream files (frames back to back), '-' for stdin (only as the only input)")
        ->required();
    app->add_option("-o,--output", options->output,
                    "Output file: .wav, or .raw/.pcm for raw s16le; '-' for stdout (WAV). A directory "
                    "(existing, ending in '/', or any OUT with several inputs; created if missing) takes "
                    "each input's name with .wav (.raw with -f raw). Default: each IN with the extension .wav");
    app->add_option("-f,--format", options->format, "Output format regardless of extension: wav or raw");
    app->add_option("-j,--jobs", options->jobs,
                    "Inputs decoded at once, on as many threads (default: the number of processors)")
        ->check(JobsText);
    app->add_flag("--skip-existing", options->skipExisting,
                  "Leave out inputs whose output file exists (a finished one: outputs are complete or absent)");
    app->add_flag("--force", options->force,
                  "Decode an input even when its first bytes are another format's (a capture, WAV, MP3, Ogg, "
                  "FLAC, .au, gzip, zip, text), which is otherwise refused");
    app->add_option("--loss", options->loss.mask, "Loss mask: one byte per frame, nonzero = decode as lost");
    app->add_option("--drop-rate", options->loss.dropRate,
                    "Also lose each frame with probability P (0 to 1); each input on its own")
        ->check(DropRateText);
    app->add_option("--seed", options->loss.seed, "Seed of the random losses (default 1)")->check(SeedText);
    return {app, [options](const GlobalOptions& global) { return RunDecode(*options, global); }};
}

}  // namespace mervox::cli
