#include "stream_glue.h"

#include <new>
#include <optional>

#include "frame_decoder.h"
#include "frame_splitter.h"
#include "loss.h"
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

// The whole frames of an input, one at a time: a file read block by block
// by the command's reader, or bytes split where they are.
class Frames {
public:
    explicit Frames(const Input& input) : name_(input.name)
    {
        if (input.isPath) {
            tools::Result<tools::StreamReader> opened = tools::StreamReader::Open(FilePath(input.path));
            if (!opened.ok())
                Throw(opened.status());
            reader_.emplace(std::move(opened.value()));
            name_ = reader_->input().name();
        } else if (input.size == 0) {
            throw StreamError(input.name + ": byte 0: empty input, no frames");
        } else {
            splitter_.Push(input.data, input.size);
        }
    }

    bool Next(tools::Frame* frame) { return reader_ ? reader_->Next(frame) : splitter_.Next(frame); }

    // After Next() returned false: a read error, or a stream without a
    // whole frame, is an exception; a cut last frame a warning.
    void Finish(bool decoding, Warnings& warnings) const
    {
        if (reader_ && !reader_->status().ok())
            Throw(reader_->status());
        const std::optional<tools::Truncation> cut = reader_ ? reader_->Truncated() : splitter_.Truncated();
        if (!cut)
            return;
        const std::string where = tools::DescribeTruncation(name_, *cut);
        if (frames() == 0)
            throw StreamError(where + ", no whole frame");
        warnings.push_back(decoding ? where + "; decoding the " + std::to_string(frames()) + " whole frames before it"
                                    : where);
    }

    uint64_t frames() const { return reader_ ? reader_->frames() : splitter_.frames(); }

private:
    std::string name_;
    std::optional<tools::StreamReader> reader_;
    tools::FrameSplitter splitter_;
};

// Whether each frame is lost: the command's loss plan for a mask file; the
// same rule (mask byte, then a random draw for every frame) for mask bytes.
class Losses {
public:
    explicit Losses(const LossOptions& options) : options_(options), drops_(options.dropRate, options.seed)
    {
        if (options.hasMask && !options.maskPath.empty()) {
            tools::Result<cli::LossPlan> opened =
                cli::LossPlan::Open(FilePath(options.maskPath), options.dropRate, options.seed);
            if (!opened.ok())
                Throw(opened.status());
            plan_.emplace(std::move(opened.value()));
        }
    }

    bool NextLost()
    {
        if (plan_) {
            const bool lost = plan_->NextLost();
            if (!plan_->status().ok())
                Throw(plan_->status());
            return lost;
        }
        const bool masked = next_ < options_.mask.size() && options_.mask[next_] != 0;
        ++next_;
        const bool dropped = drops_.Next();  // drawn for every frame, masked or not
        return masked || dropped;
    }

    // After the last frame: a warning when the mask's length is not `frames`.
    void Finish(uint64_t frames, Warnings& warnings)
    {
        if (!options_.hasMask)
            return;
        uint64_t maskBytes = options_.mask.size();
        std::string name = "loss";
        if (plan_) {
            tools::Result<uint64_t> counted = plan_->MaskBytes();
            if (!counted.ok())
                Throw(counted.status());
            maskBytes = counted.value();
            name = plan_->maskName();
        }
        if (maskBytes != frames)
            warnings.push_back(name + ": " + std::to_string(maskBytes) + " mask bytes for " + std::to_string(frames) +
                               " frames");
    }

private:
    const LossOptions& options_;
    std::optional<cli::LossPlan> plan_;
    cli::RandomDrops drops_;
    size_t next_ = 0;
};

}  // namespace

std::vector<int16_t> DecodeStream(const Input& input, const LossOptions& loss, Warnings& warnings)
{
    Frames frames(input);
    Losses losses(loss);
    tools::Result<tools::FrameDecoder> decoder = tools::FrameDecoder::Create(MERVOX_RATE_SELECT_6300);
    if (!decoder.ok())
        Throw(decoder.status());
    std::vector<int16_t> pcm;
    if (!input.isPath)
        pcm.reserve(input.size / MERVOX_MAX_FRAME_BYTES * kFrameSamples);
    FramePcm samples;
    tools::Frame frame;
    while (frames.Next(&frame)) {
        decoder.value().Decode(frame, losses.NextLost(), samples);
        pcm.insert(pcm.end(), samples.begin(), samples.end());
    }
    frames.Finish(true, warnings);
    losses.Finish(frames.frames(), warnings);
    return pcm;
}

std::vector<FrameRecord> DescribeFrames(const Input& input, Warnings& warnings)
{
    Frames frames(input);
    std::vector<FrameRecord> records;
    tools::Frame frame;
    while (frames.Next(&frame)) {
        FrameRecord r{};
        r.offset = frame.offset;
        r.type = static_cast<uint8_t>(frame.type);
        r.size = static_cast<uint8_t>(frame.length);
        if (tools::IsSpeech(frame.type)) {
            r.rate = frame.type == tools::FrameType::kRate6300 ? 6300 : 5300;
            r.faulty = mervox_frame_faults(frame.bytes, frame.length) > 0;
        }
        records.push_back(r);
    }
    frames.Finish(false, warnings);
    return records;
}

}  // namespace mervox::python
