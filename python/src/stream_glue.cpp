#include "stream_glue.h"

#include <cerrno>

#include "input_file.h"
#include "loss.h"
#include "mervox.hpp"
#include "stream_reader.h"

namespace mervox::python {
namespace {

// A whole file, read by the command's reader. The command reads "-" as
// standard input; here it is a file of that name.
std::vector<uint8_t> ReadWholeFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    std::string error;
    errno = 0;
    if (!cli::ReadInput(path == "-" ? "./-" : path, &bytes, &error)) {
        const int code = errno;  // still the failing call's
        throw InputError(code, error);
    }
    return bytes;
}

// The stream's bytes (read if it is a file) and its whole frames.
struct SplitInput {
    std::vector<uint8_t> contents;
    const uint8_t* data;
    cli::StreamSplit split;
};

SplitInput Split(const Input& input, bool decoding, Warnings& warnings)
{
    SplitInput s;
    size_t size = input.size;
    s.data = input.data;
    if (input.isPath) {
        s.contents = ReadWholeFile(input.path);
        s.data = s.contents.data();
        size = s.contents.size();
    }
    if (size == 0)
        throw StreamError(input.name + ": byte 0: empty input, no frames");
    s.split = cli::SplitStream(s.data, size);
    if (s.split.truncated) {
        const std::string where = cli::DescribeTruncation(input.name, s.split);
        if (s.split.frames.empty())
            throw StreamError(where + ", no whole frame");
        warnings.push_back(decoding ? where + "; decoding the " + std::to_string(s.split.frames.size()) +
                                          " whole frames before it"
                                    : where);
    }
    return s;
}

}  // namespace

std::vector<int16_t> DecodeStream(const Input& input, const LossOptions& loss, Warnings& warnings)
{
    const SplitInput s = Split(input, true, warnings);
    const size_t frames = s.split.frames.size();
    std::vector<uint8_t> mask;
    if (loss.hasMask) {
        mask = loss.maskPath.empty() ? loss.mask : ReadWholeFile(loss.maskPath);
        if (mask.size() != frames)
            warnings.push_back((loss.maskPath.empty() ? std::string("loss") : loss.maskPath) + ": " +
                               std::to_string(mask.size()) + " mask bytes for " + std::to_string(frames) + " frames");
    }
    const std::vector<uint8_t> lost = cli::BuildLossPlan(frames, mask, loss.dropRate, loss.seed);

    std::vector<int16_t> pcm(frames * kFrameSamples);
    Decoder decoder(MERVOX_RATE_SELECT_6300);
    for (size_t k = 0; k < frames; ++k) {
        const cli::StreamFrame& frame = s.split.frames[k];
        int16_t* out = pcm.data() + k * kFrameSamples;
        if (frame.speech() && !lost[k])
            decoder.Decode(FrameView(s.data + frame.offset, frame.length()), out);
        else
            decoder.Conceal(out);
    }
    return pcm;
}

std::vector<FrameRecord> DescribeFrames(const Input& input, Warnings& warnings)
{
    const SplitInput s = Split(input, false, warnings);
    std::vector<FrameRecord> records;
    records.reserve(s.split.frames.size());
    for (const cli::StreamFrame& frame : s.split.frames) {
        FrameRecord r{};
        r.offset = frame.offset;
        r.type = static_cast<uint8_t>(frame.type);
        r.size = static_cast<uint8_t>(frame.length());
        if (frame.speech()) {
            r.rate = frame.type == cli::FrameType::kRate63 ? 6300 : 5300;
            r.faulty = mervox_frame_faults(s.data + frame.offset, frame.length()) > 0;
        }
        records.push_back(r);
    }
    return records;
}

}  // namespace mervox::python
