#include "output/descriptor_sink.h"

#include <cerrno>

#include "mervox.h"
#include "output/fd_io.h"
#include "platform/files.h"

namespace mervox::media::output {

base::Result<std::unique_ptr<PcmSink>> DescriptorSink::Open(const std::string& path, int fd, bool owned,
                                                            PcmFormat format)
{
    std::unique_ptr<DescriptorSink> sink(new DescriptorSink(path, format));
    sink->fd_ = fd;
    sink->owned_ = owned;
    bool appends = false;
    const int unwritable = platform::DescriptorWritable(fd, &appends);
    if (unwritable != 0)
        return base::Status::SystemFailure(base::kExitOutputError, sink->name() + ": cannot write output", unwritable);
    platform::FileStatus st;
    if (IsWav(format) && !appends && StatDescriptor(fd, &st) == 0 && st.kind == platform::FileKind::kRegular) {
        const std::optional<uint64_t> at = platform::Position(fd);
        if (at)
            sink->headerOffset_ = static_cast<long long>(*at);
    }
    base::Status started = sink->Start();
    if (!started.ok())
        return started;
    return std::unique_ptr<PcmSink>(std::move(sink));
}

DescriptorSink::~DescriptorSink() { AbandonUnlessFinished(); }

base::Status DescriptorSink::WriteBytes(const uint8_t* bytes, size_t size)
{
    const int error = WriteAll(fd_, bytes, size);
    if (error == EPIPE)
        return base::Status::ReaderGone();
    return error == 0 ? base::Status::Ok() : WriteFailure(error);
}

base::Status DescriptorSink::Complete(uint64_t dataBytes)
{
    if (headerOffset_ >= 0) {
        const auto header = WavHeader(MERVOX_SAMPLE_RATE, dataBytes, Channels(format()));
        const int error = WriteAllAt(fd_, header.data(), header.size(), static_cast<uint64_t>(headerOffset_));
        if (error != 0)
            return WriteFailure(error);
    }
    if (owned_) {
        const int error = platform::CloseFile(fd_);
        fd_ = -1;
        if (error != 0)
            return error == EPIPE ? base::Status::ReaderGone() : WriteFailure(error);
    }
    return base::Status::Ok();
}

void DescriptorSink::Abandon()
{
    if (owned_ && fd_ >= 0)
        platform::CloseFile(fd_);
    fd_ = -1;
}

}  // namespace mervox::media::output
