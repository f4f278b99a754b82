#include "output/pcm_sink.h"

#include <cstring>

#include "base/names.h"
#include "mervox.h"

namespace mervox::media::output {
namespace {

constexpr size_t kBufferBytes = 64 * 1024;

}  // namespace

PcmSink::PcmSink(std::string path, PcmFormat format) : path_(std::move(path)), format_(format) {}

uint8_t* PcmSink::Buffer()
{
    if (!buffer_)
        buffer_ = std::make_unique<uint8_t[]>(kBufferBytes);
    return buffer_.get();
}

std::string PcmSink::name() const { return base::DisplayName(path_, true); }

base::Status PcmSink::Start()
{
    if (!IsWav(format_))
        return base::Status::Ok();
    const auto header = WavHeader(MERVOX_SAMPLE_RATE, std::nullopt, Channels(format_));
    std::memcpy(Buffer(), header.data(), header.size());
    buffered_ = header.size();
    return base::Status::Ok();
}

base::Status PcmSink::WriteFailure(int errnoValue) const
{
    return base::Status::SystemFailure(base::kExitOutputError,
                                       name() + ": write failed after " + std::to_string(bytesWritten_) + " bytes",
                                       errnoValue);
}

base::Status PcmSink::CheckRoom(uint64_t samples) const
{
    if (samples <= MaxSamples(format_) - samplesWritten_)
        return base::Status::Ok();
    // A WAV file's sizes would wrap around: its channels share them.
    const auto channels = static_cast<uint64_t>(Channels(format_));
    const uint64_t hours = MaxSamples(format_) / channels / (MERVOX_SAMPLE_RATE * 3600);
    return base::Status::Failure(base::kExitOutputError,
                                 name() + ": more than " + std::to_string(MaxSamples(format_) / channels) + " samples" +
                                     (channels > 1 ? " per channel" : "") + " (about " + std::to_string(hours) +
                                     " hours" + (channels > 1 ? " of stereo audio" : "") +
                                     "), beyond what a WAV file can hold" +
                                     (roomAdvice_.empty() ? "" : "; " + roomAdvice_));
}

base::Status PcmSink::Flush()
{
    if (buffered_ == 0)
        return base::Status::Ok();
    base::Status s = WriteBytes(buffer_.get(), buffered_);
    if (s.ok())
        bytesWritten_ += buffered_;
    buffered_ = 0;
    return s;
}

base::Status PcmSink::Write(const int16_t* samples, size_t count)
{
    if (finished_)
        return base::Status::Failure(base::kExitOutputError, name() + ": output already finished");
    base::Status room = CheckRoom(count);
    if (!room.ok()) {
        finished_ = true;
        Abandon();
        return room;
    }
    base::Status resumed = Resume();
    if (!resumed.ok()) {
        finished_ = true;
        Abandon();
        return resumed;
    }
    uint8_t* const buffer = Buffer();
    while (count > 0) {
        const size_t n = std::min(count, (kBufferBytes - buffered_) / 2);
        PackLittleEndian(samples, n, buffer + buffered_);
        buffered_ += 2 * n;
        samples += n;
        count -= n;
        samplesWritten_ += n;
        if (kBufferBytes - buffered_ < 2) {
            base::Status s = Flush();
            if (!s.ok()) {
                finished_ = true;
                Abandon();
                return s;
            }
        }
    }
    return base::Status::Ok();
}

base::Status PcmSink::Finish()
{
    if (finished_)
        return base::Status::Failure(base::kExitOutputError, name() + ": output already finished");
    base::Status s = Resume();
    finished_ = true;
    if (s.ok())
        s = Flush();
    if (s.ok())
        s = Complete(samplesWritten_ * 2);
    if (!s.ok())
        Abandon();
    buffer_.reset();
    return s;
}

base::Status PcmSink::Park()
{
    if (finished_ || parked_ || !CanPark())
        return base::Status::Ok();
    base::Status s = Flush();
    if (s.ok())
        s = Suspend();
    if (!s.ok()) {
        finished_ = true;
        Abandon();
        return s;
    }
    buffer_.reset();
    parked_ = true;
    return base::Status::Ok();
}

base::Status PcmSink::Resume()
{
    if (!parked_)
        return base::Status::Ok();
    base::Status s = Reopen();
    if (s.ok())
        parked_ = false;
    return s;
}

void PcmSink::AbandonUnlessFinished()
{
    if (!finished_) {
        finished_ = true;
        Abandon();
    }
}

}  // namespace mervox::media::output
