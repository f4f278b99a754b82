// mervox decode IN [-o OUT]: a stream file to WAV or raw PCM.
#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "exit_codes.h"
#include "input_file.h"
#include "loss.h"
#include "mervox.hpp"
#include "pcm_output.h"
#include "stream_reader.h"

namespace mervox::cli {
namespace {

struct DecodeOptions {
    std::string input;
    std::string output;
    std::string format;
    std::string lossMask;
    double dropRate = 0.0;
    uint64_t seed = 1;
};

// IN with its extension replaced by .wav (the same directory).
std::string DefaultOutputPath(const std::string& input)
{
    if (input == "-")
        return "-";
    return PathWithoutExtension(input) + ".wav";
}

// Option checks on the text, before CLI11 converts it: its conversion
// wraps "-5" and saturates 2^64 into seeds silently, and its range check
// lets "nan" through.
std::string SeedText(const std::string& text)
{
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, value);
    return r.ec == std::errc() && r.ptr == end ? "" : "seed must be a whole number from 0 to 2^64-1";
}

std::string NotNan(const std::string& text)
{
    return std::isnan(std::strtod(text.c_str(), nullptr)) ? "not a number" : "";
}

int RunDecode(const DecodeOptions& options, const GlobalOptions& global)
{
    Console console(global.quiet);
    const std::string output = options.output.empty() ? DefaultOutputPath(options.input) : options.output;
    const std::optional<PcmFormat> format =
        options.format.empty() ? PcmFormatFromPath(output) : PcmFormatFromName(options.format);
    if (!format) {
        console.Error(options.format.empty()
                          ? output + ": unknown output extension (use .wav, .raw or .pcm, or --format)"
                          : "unknown --format '" + options.format + "' (use wav or raw)");
        return kExitUsage;
    }

    // The output replaces its file only at the end, so decoding into the
    // input (say `mervox decode call.wav`) would destroy it.
    for (const std::string& source : {options.input, options.lossMask}) {
        if (SameFile(source, output)) {
            console.Error(output + ": output would overwrite the input " + source);
            return kExitUsage;
        }
    }

    const std::string inputName = DisplayName(options.input);
    std::vector<uint8_t> stream;
    std::string error;
    if (!ReadStreamInput(options.input, &stream, &error)) {
        console.Error(error);
        return kExitBadInput;
    }
    const StreamSplit split = SplitStream(stream.data(), stream.size());
    if (split.truncated) {
        const std::string where = DescribeTruncation(inputName, split);
        if (split.frames.empty()) {
            console.Error(where + ", no whole frame");
            return kExitBadInput;
        }
        console.Warning(where + "; decoding the " + std::to_string(split.frames.size()) + " whole frames before it");
    }

    std::vector<uint8_t> mask;
    if (!options.lossMask.empty()) {
        if (!ReadInput(options.lossMask, &mask, &error)) {
            console.Error(error);
            return kExitBadInput;
        }
        if (mask.size() != split.frames.size())
            console.Warning(DisplayName(options.lossMask) + ": " + std::to_string(mask.size()) + " mask bytes for " +
                            std::to_string(split.frames.size()) + " frames");
    }
    const std::vector<uint8_t> lost = BuildLossPlan(split.frames.size(), mask, options.dropRate, options.seed);

    std::unique_ptr<PcmOutput> out = PcmOutput::Open(output, *format, kSampleRate, &error);
    if (!out) {
        console.Error(error);
        return kExitOutputError;
    }

    Decoder decoder(1);
    FramePcm pcm;
    for (size_t k = 0; k < split.frames.size(); ++k) {
        const StreamFrame& frame = split.frames[k];
        if (frame.speech() && !lost[k])
            decoder.Decode(FrameView(stream.data() + frame.offset, frame.length()), pcm);
        else
            decoder.Conceal(pcm);
        if (!out->Write(pcm.data(), pcm.size())) {
            console.EndProgress();
            console.Error(out->error());
            return kExitOutputError;
        }
        console.Progress("decoding " + inputName, k + 1, split.frames.size());
    }
    console.EndProgress();
    if (!out->Commit()) {
        console.Error(out->error());
        return kExitOutputError;
    }
    return kExitOk;
}

}  // namespace

Subcommand AddDecodeCommand(CLI::App& parent)
{
    auto options = std::make_shared<DecodeOptions>();
    CLI::App* app = parent.add_subcommand("decode", "Decode a stream file to WAV or raw 16-bit PCM");
    app->add_option("IN", options->input, "Stream file (frames back to back), '-' for stdin")->required();
    app->add_option("-o,--output", options->output,
                    "Output file: .wav, or .raw/.pcm for raw s16le; '-' for stdout (WAV). "
                    "Default: IN with the extension .wav");
    app->add_option("-f,--format", options->format, "Output format regardless of extension: wav or raw");
    app->add_option("--loss", options->lossMask, "Loss mask: one byte per frame, nonzero = decode as lost");
    app->add_option("--drop-rate", options->dropRate, "Also lose each frame with probability P")
        ->check(CLI::Range(0.0, 1.0))
        ->check(NotNan);
    app->add_option("--seed", options->seed, "Seed of the random losses (default 1)")->check(SeedText);
    return {app, [options](const GlobalOptions& global) { return RunDecode(*options, global); }};
}

}  // namespace mervox::cli
