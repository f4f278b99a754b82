#include "pcm_sink.h"

#include <cstring>

#include "mervox.h"
#include "names.h"

namespace mervox::tools {
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

std::string PcmSink::name() const { return DisplayName(path_, true); }

Status PcmSink::Start()
{
    if (!IsWav(format_))
        return Status::Ok();
    const auto header = WavHeader(MERVOX_SAMPLE_RATE, std::nullopt, Channels(format_));
    std::memcpy(Buffer(), header.data(), header.size());
    buffered_ = header.size();
    return Status::Ok();
}

Status PcmSink::WriteFailure(int errnoValue) const
{
    return Status::SystemFailure(
        kExitOutputError, name() + ": write failed after " + std::to_string(bytesWritten_) + " bytes", errnoValue);
}

Status PcmSink::CheckRoom(uint64_t samples) const
{
    if (samples <= MaxSamples(format_) - samplesWritten_)
        return Status::Ok();
    // A WAV file's sizes would wrap around.
    return Status::Failure(kExitOutputError, name() + ": more than " + std::to_string(MaxSamples(format_)) +
                                                 " samples (about 74 hours), beyond what a WAV file can hold; "
                                                 "use raw output (-f raw)");
}

Status PcmSink::Flush()
{
    if (buffered_ == 0)
        return Status::Ok();
    Status s = WriteBytes(buffer_.get(), buffered_);
    if (s.ok())
        bytesWritten_ += buffered_;
    buffered_ = 0;
    return s;
}

Status PcmSink::Write(const int16_t* samples, size_t count)
{
    if (finished_)
        return Status::Failure(kExitOutputError, name() + ": output already finished");
    Status room = CheckRoom(count);
    if (!room.ok()) {
        finished_ = true;
        Abandon();
        return room;
    }
    Status resumed = Resume();
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
            Status s = Flush();
            if (!s.ok()) {
                finished_ = true;
                Abandon();
                return s;
            }
        }
    }
    return Status::Ok();
}

Status PcmSink::Finish()
{
    if (finished_)
        return Status::Failure(kExitOutputError, name() + ": output already finished");
    Status s = Resume();
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

Status PcmSink::Park()
{
    if (finished_ || parked_ || !CanPark())
        return Status::Ok();
    Status s = Flush();
    if (s.ok())
        s = Suspend();
    if (!s.ok()) {
        finished_ = true;
        Abandon();
        return s;
    }
    buffer_.reset();
    parked_ = true;
    return Status::Ok();
}

Status PcmSink::Resume()
{
    if (!parked_)
        return Status::Ok();
    Status s = Reopen();
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

}  // namespace mervox::tools
