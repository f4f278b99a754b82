#include "stream_glue.h"

#include <new>
#include <optional>

#include "loss.h"
#include "stream_decode.h"
#include "stream_reader.h"

namespace mervox::python {
namespace {

// A failed Status as the module's exception: a system call's failure is an
// OSError, running out of memory a MemoryError, anything else a bad stream.
[[noreturn]] void Throw(const tools::Status& status)
{
    if (status.code() == tools::kExitOutOfMemory)
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
tools::StreamReader OpenFrames(const Input& input, bool force)
{
    const tools::SignatureCheck check{!force, "force=True"};
    if (!input.isPath)
        return tools::StreamReader::FromBytes(input.data, input.size, input.name, check);
    tools::Result<tools::StreamReader> opened = tools::StreamReader::Open(FilePath(input.path), check);
    if (!opened.ok())
        Throw(opened.status());
    return std::move(opened.value());
}

// The command's loss plan, for a mask file or mask bytes.
tools::LossPlan OpenLosses(const LossOptions& options)
{
    if (options.hasMask && options.maskPath.empty())
        return tools::LossPlan::FromBytes(options.mask, options.dropRate, options.seed);
    tools::Result<tools::LossPlan> opened = tools::LossPlan::Open(
        options.hasMask ? FilePath(options.maskPath) : std::string(), options.dropRate, options.seed);
    if (!opened.ok())
        Throw(opened.status());
    return std::move(opened.value());
}

}  // namespace

std::vector<int16_t> DecodeStream(const Input& input, const LossOptions& loss, bool force, Warnings& warnings,
                                  const tools::StopRequested& stop)
{
    tools::StreamReader reader = OpenFrames(input, force);
    tools::StreamDecode decode(reader);
    tools::Status status = decode.Start();
    if (!status.ok())
        Throw(status);
    tools::LossPlan losses = OpenLosses(loss);
    std::vector<int16_t> pcm;
    if (!input.isPath)
        pcm.reserve(input.size / MERVOX_MAX_FRAME_BYTES * kFrameSamples);
    tools::StopCheck check(stop);
    status = decode.Run(losses, [&](const tools::Frame&, const FramePcm& samples) {
        pcm.insert(pcm.end(), samples.begin(), samples.end());
        check.Frame();  // throws Interrupted through the loop
        return tools::Status::Ok();
    });
    if (!status.ok())
        Throw(status);
    tools::Result<std::vector<std::string>> found = decode.Warnings(losses);
    if (!found.ok())
        Throw(found.status());
    warnings.insert(warnings.end(), found.value().begin(), found.value().end());
    return pcm;
}

std::vector<FrameRecord> DescribeFrames(const Input& input, bool force, Warnings& warnings,
                                        const tools::StopRequested& stop)
{
    tools::StreamReader reader = OpenFrames(input, force);
    std::vector<FrameRecord> records;
    tools::Frame frame;
    tools::StopCheck check(stop);
    while (reader.Next(&frame)) {
        FrameRecord r{};
        r.offset = frame.offset;
        r.type = static_cast<uint8_t>(frame.type);
        r.size = static_cast<uint8_t>(frame.length);
        if (tools::IsSpeech(frame.type)) {
            r.rate = frame.type == tools::FrameType::kRate6300 ? 6300 : 5300;
            r.faulty = mervox_frame_faults(frame.bytes, frame.length) > 0;
        }
        records.push_back(r);
        check.Frame();
    }
    if (!reader.status().ok())
        Throw(reader.status());
    if (const std::optional<tools::Truncation> cut = reader.Truncated()) {
        const std::string where = tools::DescribeTruncation(reader.name(), *cut);
        if (reader.frames() == 0)
            throw StreamError(where + ", no whole frame");
        warnings.push_back(where);
    }
    return records;
}

}  // namespace mervox::python
