#include "stream_glue.h"

#include <cerrno>

#include "input_file.h"
#include "loss.h"
#include "mervox.hpp"

namespace mervox::python {

std::vector<uint8_t> ReadWholeFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    std::string error;
    errno = 0;
    if (!cli::ReadInput(path == "-" ? "./-" : path, &bytes, &error)) {
        const int code = errno;
        throw InputError(code, path == "-" ? "-" + error.substr(3) : error);
    }
    return bytes;
}

cli::StreamSplit SplitStreamChecked(const uint8_t* data, size_t size, const std::string& name, bool decoding,
                                    Warnings& warnings)
{
    if (size == 0)
        throw StreamError(name + ": byte 0: empty input, no frames");
    cli::StreamSplit split = cli::SplitStream(data, size);
    if (split.truncated) {
        const std::string where = cli::DescribeTruncation(name, split);
        if (split.frames.empty())
            throw StreamError(where + ", no whole frame");
        warnings.push_back(decoding ? where + "; decoding the " + std::to_string(split.frames.size()) +
                                          " whole frames before it"
                                    : where);
    }
    return split;
}

std::vector<uint8_t> LossPlan(size_t frames, const std::vector<uint8_t>& mask, const std::string& maskName,
                              double dropRate, uint64_t seed, Warnings& warnings)
{
    if (!maskName.empty() && mask.size() != frames)
        warnings.push_back(maskName + ": " + std::to_string(mask.size()) + " mask bytes for " +
                           std::to_string(frames) + " frames");
    return cli::BuildLossPlan(frames, mask, dropRate, seed);
}

void DecodeSplit(const uint8_t* data, const cli::StreamSplit& split, const std::vector<uint8_t>& lost, int16_t* pcm)
{
    Decoder decoder(MERVOX_RATE_SELECT_6300);
    for (size_t k = 0; k < split.frames.size(); ++k) {
        const cli::StreamFrame& frame = split.frames[k];
        int16_t* out = pcm + k * kFrameSamples;
        if (frame.speech() && !lost[k])
            decoder.Decode(FrameView(data + frame.offset, frame.length()), out);
        else
            decoder.Conceal(out);
    }
}

std::vector<FrameRecord> DescribeFrames(const uint8_t* data, const cli::StreamSplit& split)
{
    std::vector<FrameRecord> records;
    records.reserve(split.frames.size());
    for (const cli::StreamFrame& frame : split.frames) {
        FrameRecord r{};
        r.offset = frame.offset;
        r.type = static_cast<uint8_t>(frame.type);
        r.size = static_cast<uint8_t>(frame.length());
        if (frame.speech()) {
            r.rate = frame.type == cli::FrameType::kRate63 ? 6300 : 5300;
            r.faulty = mervox_frame_faults(data + frame.offset, frame.length()) > 0;
        }
        records.push_back(r);
    }
    return records;
}

}  // namespace mervox::python
