#include "descriptor_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fd_io.h"
#include "mervox.h"

namespace mervox::tools {

Result<std::unique_ptr<PcmSink>> DescriptorSink::Open(const std::string& path, int fd, bool owned, PcmFormat format)
{
    std::unique_ptr<DescriptorSink> sink(new DescriptorSink(path, format));
    sink->fd_ = fd;
    sink->owned_ = owned;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return Status::SystemFailure(kExitOutputError, sink->name() + ": cannot write output", errno);
    if ((flags & O_ACCMODE) == O_RDONLY)
        return Status::SystemFailure(kExitOutputError, sink->name() + ": cannot write output", EBADF);
    struct stat st;
    if (format == PcmFormat::kWav && !(flags & O_APPEND) && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at >= 0)
            sink->headerOffset_ = at;
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
        const auto header = WavHeader(MERVOX_SAMPLE_RATE, dataBytes);
        const int error = WriteAllAt(fd_, header.data(), header.size(), static_cast<off_t>(headerOffset_));
        if (error != 0)
            return WriteFailure(error);
    }
    if (owned_) {
        const int closed = close(fd_);
        fd_ = -1;
        if (closed != 0)
            return errno == EPIPE ? Status::ReaderGone() : WriteFailure(errno);
    }
    return Status::Ok();
}

void DescriptorSink::Abandon()
{
    if (owned_ && fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

}  // namespace mervox::tools
