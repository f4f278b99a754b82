#include "stream/input_file.h"

#include <cerrno>

#include "base/names.h"
#include "platform/files.h"

namespace mervox::media::stream {

InputFile::InputFile(int fd, std::string path, std::optional<uint64_t> size)
    : fd_(fd), path_(std::move(path)), size_(size)
{}

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), size_(other.size_), bytesRead_(other.bytesRead_)
{
    other.fd_ = -1;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ > platform::kStandardInput)
            platform::CloseFile(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        size_ = other.size_;
        bytesRead_ = other.bytesRead_;
        other.fd_ = -1;
    }
    return *this;
}

InputFile::~InputFile()
{
    if (fd_ > platform::kStandardInput)
        platform::CloseFile(fd_);
}

base::Result<InputFile> InputFile::Open(const std::string& path)
{
    const int fd = path == "-" ? platform::kStandardInput : platform::OpenForReading(path);
    if (fd < 0)
        return base::Status::SystemFailure(base::kExitBadInput, base::DisplayName(path) + ": cannot open", errno);
    platform::FileStatus st;
    std::optional<uint64_t> size;
    if (platform::StatDescriptor(fd, &st) == 0 && st.kind == platform::FileKind::kRegular)
        size = st.size;
    return InputFile(fd, path, size);
}

std::string InputFile::name() const { return base::DisplayName(path_); }

base::Status InputFile::Read(uint8_t* buffer, size_t capacity, size_t* got)
{
    *got = 0;
    for (;;) {
        const long long n = platform::ReadSome(fd_, buffer, capacity);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            bytesRead_ += *got;
            return base::Status::Ok();
        }
        if (errno != EINTR)
            return base::Status::SystemFailure(
                base::kExitBadInput, name() + ": byte " + std::to_string(bytesRead_) + ": read failed", errno);
    }
}

base::Status ProbeInput(const std::string& path, const std::string& emptyMeaning)
{
    // Standard input, a pipe or a device cannot be probed without taking
    // bytes from the reader that follows (and closing a pipe's only reader
    // would end its writer): only files and folders are.
    platform::FileStatus st;
    if (path == "-" || (platform::StatPath(path, &st) == 0 && st.kind == platform::FileKind::kOther))
        return base::Status::Ok();
    base::Result<InputFile> input = InputFile::Open(path);
    if (!input.ok())
        return input.status();
    uint8_t byte;
    size_t got = 0;
    const base::Status read = input.value().Read(&byte, 1, &got);
    if (!read.ok())
        return read;
    if (got == 0)
        return base::Status::Failure(base::kExitBadInput,
                                     base::DisplayName(path) + ": byte 0: empty input, " + emptyMeaning);
    return base::Status::Ok();
}

}  // namespace mervox::media::stream
