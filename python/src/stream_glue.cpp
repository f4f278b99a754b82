#include "stream_glue.h"

#include <new>
#include <optional>

#include "decode/loss.h"
#include "decode/stream_decode.h"
#include "stream/stream_reader.h"

namespace mervox::python {
namespace {

// A failed Status as the module's exception: a system call's failure is an
// OSError, running out of memory a MemoryError, anything else a bad stream.
[[noreturn]] void Throw(const media::base::Status& status)
{
    if (status.code() == media::base::kExitOutOfMemory)
        throw std::bad_alloc();
    if (status.systemError() != 0)
        throw InputError(status.systemError(), status.message());
    throw StreamError(status.message());
}

// The command reads "-" as standard input; here it is a file of that name.
std::string FilePath(const std::string& path) { return path == "-" ? "./-" : path; }

// The input's frames: a file read block by block by the command's reader,
// or bytes split where they are; refused when it looks like another format
// unless `force`.
media::stream::StreamReader OpenFrames(const Input& input, bool force)
{
    const media::stream::SignatureCheck check{!force, "force=True"};
    if (!input.isPath)
        return media::stream::StreamReader::FromBytes(input.data, input.size, input.name, check);
    media::base::Result<media::stream::StreamReader> opened =
        media::stream::StreamReader::Open(FilePath(input.path), check);
    if (!opened.ok())
        Throw(opened.status());
    return std::move(opened.value());
}

// The command's loss plan, for a mask file or mask bytes.
media::decode::LossPlan OpenLosses(const LossOptions& options)
{
    if (options.hasMask && options.maskPath.empty())
        return media::decode::LossPlan::FromBytes(options.mask, options.dropRate, options.seed);
    media::base::Result<media::decode::LossPlan> opened = media::decode::LossPlan::Open(
        options.hasMask ? FilePath(options.maskPath) : std::string(), options.dropRate, options.seed);
    if (!opened.ok())
        Throw(opened.status());
    return std::move(opened.value());
}

}  // namespace

std::vector<int16_t> DecodeStream(const Input& input, const LossOptions& loss, bool force, Warnings& warnings,
                                  const media::base::StopRequested& stop)
{
    media::stream::StreamReader reader = OpenFrames(input, force);
    media::decode::StreamDecode decode(reader);
    media::base::Status status = decode.Start();
    if (!status.ok())
        Throw(status);
    media::decode::LossPlan losses = OpenLosses(loss);
    std::vector<int16_t> pcm;
    if (!input.isPath)
        pcm.reserve(input.size / MERVOX_MAX_FRAME_BYTES * kFrameSamples);
    media::base::StopCheck check(stop);
    status = decode.Run(losses, [&](const media::stream::Frame&, const FramePcm& samples) {
        pcm.insert(pcm.end(), samples.begin(), samples.end());
        check.Frame();  // throws Interrupted through the loop
        return media::base::Status::Ok();
    });
    if (!status.ok())
        Throw(status);
    media::base::Result<std::vector<std::string>> found = decode.Warnings(losses);
    if (!found.ok())
        Throw(found.status());
    warnings.insert(warnings.end(), found.value().begin(), found.value().end());
    return pcm;
}

std::vector<FrameRecord> DescribeFrames(const Input& input, bool force, Warnings& warnings,
                                        const media::base::StopRequested& stop)
{
    media::stream::StreamReader reader = OpenFrames(input, force);
    std::vector<FrameRecord> records;
    media::stream::Frame frame;
    media::base::StopCheck check(stop);
    while (reader.Next(&frame)) {
        FrameRecord r{};
        r.offset = frame.offset;
        r.type = static_cast<uint8_t>(frame.type);
        r.size = static_cast<uint8_t>(frame.length);
        if (media::stream::IsSpeech(frame.type)) {
            r.rate = frame.type == media::stream::FrameType::kRate6300 ? 6300 : 5300;
            r.faulty = mervox_frame_faults(frame.bytes, frame.length) > 0;
        }
        records.push_back(r);
        check.Frame();
    }
    if (!reader.status().ok())
        Throw(reader.status());
    if (const std::optional<media::stream::Truncation> cut = reader.Truncated()) {
        const std::string where = media::stream::DescribeTruncation(reader.name(), *cut);
        if (reader.frames() == 0)
            throw StreamError(where + ", no whole frame");
        warnings.push_back(where);
    }
    return records;
}

}  // namespace mervox::python
