#include "descriptor_sink.h"

#include <cerrno>

#include "fd_io.h"
#include "files.h"
#include "mervox.h"

namespace mervox::tools {

Result<std::unique_ptr<PcmSink>> DescriptorSink::Open(const std::string& path, int fd, bool owned, PcmFormat format)
{
    std::unique_ptr<DescriptorSink> sink(new DescriptorSink(path, format));
    sink->fd_ = fd;
    sink->owned_ = owned;
    bool appends = false;
    const int unwritable = platform::DescriptorWritable(fd, &appends);
    if (unwritable != 0)
        return Status::SystemFailure(kExitOutputError, sink->name() + ": cannot write output", unwritable);
    platform::FileStatus st;
    if (IsWav(format) && !appends && platform::StatDescriptor(fd, &st) == 0 &&
        st.kind == platform::FileKind::kRegular) {
        const std::optional<uint64_t> at = platform::Position(fd);
        if (at)
            sink->headerOffset_ = static_cast<long long>(*at);
    }
    Status started = sink->Start();
    if (!started.ok())
        return started;
    return std::unique_ptr<PcmSink>(std::move(sink));
}

DescriptorSink::~DescriptorSink() { AbandonUnlessFinished(); }

Status DescriptorSink::WriteBytes(const uint8_t* bytes, size_t size)
{
    const int error = WriteAll(fd_, bytes, size);
    if (error == EPIPE)
        return Status::ReaderGone();
    return error == 0 ? Status::Ok() : WriteFailure(error);
}

Status DescriptorSink::Complete(uint64_t dataBytes)
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
            return error == EPIPE ? Status::ReaderGone() : WriteFailure(error);
    }
    return Status::Ok();
}

void DescriptorSink::Abandon()
{
    if (owned_ && fd_ >= 0)
        platform::CloseFile(fd_);
    fd_ = -1;
}

}  // namespace mervox::tools
