#include "decode_file.h"

#include <memory>
#include <optional>
#include <string>

#include "base/names.h"
#include "decode/stream_decode.h"
#include "exit_codes.h"
#include "output/pcm_output.h"

namespace mervox::cli {
namespace {

using media::base::Status;
using media::output::PcmFormat;
using media::stream::Frame;

// The number of whole frames of a regular file, counted without decoding;
// nullopt when the input is not a regular file or cannot be read.
std::optional<uint64_t> CountFrames(const std::string& path, const media::stream::SignatureCheck& check)
{
    media::base::Result<media::stream::StreamReader> reader = media::stream::StreamReader::Open(path, check);
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
Status CheckOutputRoom(const media::stream::StreamReader& reader, const media::stream::SignatureCheck& check,
                       PcmFormat format, const std::string& outputName)
{
    const std::optional<uint64_t> size = reader.input().size();
    const uint64_t maxFrames = media::output::MaxSamples(format) / kFrameSamples;
    if (!size || *size <= maxFrames)  // a frame takes at least one byte
        return Status::Ok();
    const std::optional<uint64_t> frames = CountFrames(reader.input().path(), check);
    if (!frames || *frames <= maxFrames)
        return Status::Ok();
    return Status::Failure(media::base::kExitOutputError, outputName + ": " + std::to_string(*frames) + " frames (" +
                                                              std::to_string(*frames * kFrameSamples) +
                                                              " samples) are more than a WAV file can hold (" +
                                                              std::to_string(media::output::MaxSamples(format)) +
                                                              " samples, about 74 hours); use raw output (-f raw)");
}

int Fail(const Console& console, const Status& status)
{
    if (status.readerGone())
        return kExitOk;  // the reader of our output stopped reading: a normal end
    console.Error(status.message());
    return status.code();
}

}  // namespace

void DecodeProgress::Advance(uint64_t bytes)
{
    const uint64_t done = done_.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    console_.Progress(label_, static_cast<size_t>(done), static_cast<size_t>(total_));
}

int DecodeFile(const DecodeJob& job, const LossSettings& lossSettings, Console& console, DecodeProgress& progress)
{
    // Decoding into the input (say `mervox decode call.wav`) would destroy
    // it; appending to it (`-o - >> call.bit`) would never end.
    const std::string outputFile = job.output == "-" ? "/dev/stdout" : job.output;
    for (const std::string& source : {job.input, lossSettings.mask}) {
        if (media::output::SameFile(source == "-" ? "/dev/stdin" : source, outputFile)) {
            console.Error(media::base::DisplayName(job.output, true) + ": output would overwrite the input " +
                          media::base::DisplayName(source));
            return kExitUsage;
        }
    }

    const media::stream::SignatureCheck check{!job.force, "--force"};
    media::base::Result<media::stream::StreamReader> opened = media::stream::StreamReader::Open(job.input, check);
    if (!opened.ok())
        return Fail(console, opened.status());
    media::stream::StreamReader& reader = opened.value();
    media::decode::StreamDecode decode(reader);
    Status status = decode.Start();
    if (!status.ok())
        return Fail(console, status);

    media::base::Result<media::decode::LossPlan> loss =
        media::decode::LossPlan::Open(lossSettings.mask, lossSettings.dropRate, lossSettings.seed);
    if (!loss.ok())
        return Fail(console, loss.status());
    status = CheckOutputRoom(reader, check, job.format, media::base::DisplayName(job.output, true));
    if (!status.ok())
        return Fail(console, status);
    media::base::Result<std::unique_ptr<media::output::PcmSink>> out =
        media::output::OpenPcmOutput(job.output, job.format);
    if (!out.ok())
        return Fail(console, out.status());
    media::output::PcmSink& sink = *out.value();
    sink.SetRoomAdvice("use raw output (-f raw)");

    const bool knownSize = reader.input().size().has_value();
    uint64_t reported = 0;  // input bytes already counted in the progress line
    status = decode.Run(loss.value(), [&](const Frame& frame, const FramePcm& pcm) {
        if (knownSize && (frame.index & 255) == 0) {
            progress.Advance(frame.offset - reported);
            reported = frame.offset;
        }
        return sink.Write(pcm.data(), pcm.size());
    });
    if (!status.ok())
        return Fail(console, status);
    if (knownSize)
        progress.Advance(*reader.input().size() - reported);
    media::base::Result<std::vector<std::string>> warnings = decode.Warnings(loss.value());
    if (!warnings.ok())
        return Fail(console, warnings.status());
    for (const std::string& warning : warnings.value())
        console.Warning(warning);
    status = sink.Finish();
    if (!status.ok())
        return Fail(console, status);
    return kExitOk;
}

}  // namespace mervox::cli
