// mervox decode IN [-o OUT]: a stream file to WAV or raw PCM, frame by
// frame: the input is read in blocks and the output written as it is
// decoded, so memory does not depend on the stream's length.
#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "commands.h"
#include "console.h"
#include "exit_codes.h"
#include "frame_decoder.h"
#include "loss.h"
#include "names.h"
#include "pcm_output.h"
#include "stream_reader.h"

namespace mervox::cli {
namespace {

using tools::Frame;
using tools::PcmFormat;
using tools::Status;

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
    return tools::PathWithoutExtension(input) + ".wav";
}

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
        return "'" + tools::EscapeControlCharacters(text) + "' is not a number";
    return value >= 0.0 && value <= 1.0 ? "" : "drop rate must be from 0 to 1";
}

// The number of whole frames of a regular file, counted without decoding;
// nullopt when the input is not a regular file or cannot be read.
std::optional<uint64_t> CountFrames(const std::string& path)
{
    tools::Result<tools::StreamReader> reader = tools::StreamReader::Open(path);
    if (!reader.ok() || !reader.value().input().size())
        return std::nullopt;
    Frame frame;
    while (reader.value().Next(&frame)) {
    }
    if (!reader.value().status().ok())
        return std::nullopt;
    return reader.value().frames();
}

// Fails before decoding when the output's format cannot hold the input's
// frames (a WAV file's 74 hours). Only a regular file's frames are known
// beforehand; they are counted only if its size allows too many.
Status CheckOutputRoom(const tools::StreamReader& reader, PcmFormat format, const std::string& outputName)
{
    const std::optional<uint64_t> size = reader.input().size();
    const uint64_t maxFrames = tools::MaxSamples(format) / kFrameSamples;
    if (!size || *size <= maxFrames)  // a frame takes at least one byte
        return Status::Ok();
    const std::optional<uint64_t> frames = CountFrames(reader.input().path());
    if (!frames || *frames <= maxFrames)
        return Status::Ok();
    return Status::Failure(tools::kExitOutputError, outputName + ": " + std::to_string(*frames) + " frames (" +
                                                        std::to_string(*frames * kFrameSamples) +
                                                        " samples) are more than a WAV file can hold (" +
                                                        std::to_string(tools::MaxSamples(format)) +
                                                        " samples, about 74 hours); use raw output (-f raw)");
}

int Fail(Console& console, const Status& status)
{
    console.EndProgress();
    if (status.readerGone())
        return kExitOk;  // the reader of our output stopped reading: a normal end
    console.Error(status.message());
    return status.code();
}

int RunDecode(const DecodeOptions& options, const GlobalOptions& global)
{
    Console console(global.quiet);
    const std::string output = options.output.empty() ? DefaultOutputPath(options.input) : options.output;
    const std::optional<PcmFormat> format =
        options.format.empty() ? tools::PcmFormatFromPath(output) : tools::PcmFormatFromName(options.format);
    if (!format) {
        console.Error(
            options.format.empty()
                ? tools::DisplayName(output) + ": unknown output extension (use .wav, .raw or .pcm, or --format)"
                : "unknown --format '" + tools::EscapeControlCharacters(options.format) + "' (use wav or raw)");
        return kExitUsage;
    }
    if (options.input == "-" && options.lossMask == "-") {
        console.Error("the stream and the loss mask cannot both be read from stdin ('-')");
        return kExitUsage;
    }
    // Decoding into the input (say `mervox decode call.wav`) would destroy
    // it; appending to it (`-o - >> call.bit`) would never end.
    const std::string outputFile = output == "-" ? "/dev/stdout" : output;
    for (const std::string& source : {options.input, options.lossMask}) {
        if (tools::SameFile(source == "-" ? "/dev/stdin" : source, outputFile)) {
            console.Error(tools::DisplayName(output, true) + ": output would overwrite the input " +
                          tools::DisplayName(source));
            return kExitUsage;
        }
    }

    tools::Result<tools::StreamReader> opened = tools::StreamReader::Open(options.input);
    if (!opened.ok())
        return Fail(console, opened.status());
    tools::StreamReader& reader = opened.value();
    const std::string inputName = reader.input().name();
    Frame frame;
    bool haveFrame = reader.Next(&frame);
    if (!haveFrame) {
        if (!reader.status().ok())
            return Fail(console, reader.status());
        console.Error(DescribeTruncation(inputName, *reader.Truncated()) + ", no whole frame");
        return kExitBadInput;
    }

    tools::Result<LossPlan> loss = LossPlan::Open(options.lossMask, options.dropRate, options.seed);
    if (!loss.ok())
        return Fail(console, loss.status());
    const std::string outputName = tools::DisplayName(output, true);
    Status status = CheckOutputRoom(reader, *format, outputName);
    if (!status.ok())
        return Fail(console, status);
    tools::Result<tools::FrameDecoder> decoder = tools::FrameDecoder::Create(MERVOX_RATE_SELECT_6300);
    if (!decoder.ok())
        return Fail(console, decoder.status());
    tools::Result<std::unique_ptr<tools::PcmSink>> out = tools::OpenPcmOutput(output, *format);
    if (!out.ok())
        return Fail(console, out.status());
    tools::PcmSink& sink = *out.value();

    const std::optional<uint64_t> inputSize = reader.input().size();
    const std::string label = "decoding " + inputName;
    FramePcm pcm;
    for (; haveFrame; haveFrame = reader.Next(&frame)) {
        const bool lost = loss.value().NextLost();
        if (!loss.value().status().ok())
            return Fail(console, loss.value().status());
        decoder.value().Decode(frame, lost, pcm);
        status = sink.Write(pcm.data(), pcm.size());
        if (!status.ok())
            return Fail(console, status);
        if (inputSize && (frame.index & 255) == 0)
            console.Progress(label, static_cast<size_t>(frame.offset), static_cast<size_t>(*inputSize));
    }
    console.EndProgress();
    if (!reader.status().ok())
        return Fail(console, reader.status());
    const uint64_t frames = reader.frames();
    if (const auto cut = reader.Truncated())
        console.Warning(DescribeTruncation(inputName, *cut) + "; decoding the " + std::to_string(frames) +
                        " whole frames before it");
    if (!options.lossMask.empty()) {
        tools::Result<uint64_t> maskBytes = loss.value().MaskBytes();
        if (!maskBytes.ok())
            return Fail(console, maskBytes.status());
        if (maskBytes.value() != frames)
            console.Warning(loss.value().maskName() + ": " + std::to_string(maskBytes.value()) + " mask bytes for " +
                            std::to_string(frames) + " frames");
    }
    status = sink.Finish();
    if (!status.ok())
        return Fail(console, status);
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
    app->add_option("--drop-rate", options->dropRate, "Also lose each frame with probability P (0 to 1)")
        ->check(DropRateText);
    app->add_option("--seed", options->seed, "Seed of the random losses (default 1)")->check(SeedText);
    return {app, [options](const GlobalOptions& global) { return RunDecode(*options, global); }};
}

}  // namespace mervox::cli
