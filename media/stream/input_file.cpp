#include "input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "names.h"

namespace mervox::tools {

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
        if (fd_ > STDIN_FILENO)
            close(fd_);
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
    if (fd_ > STDIN_FILENO)
        close(fd_);
}

Result<InputFile> InputFile::Open(const std::string& path)
{
    const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Status::SystemFailure(kExitBadInput, DisplayName(path) + ": cannot open", errno);
    struct stat st;
    std::optional<uint64_t> size;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        size = static_cast<uint64_t>(st.st_size);
    return InputFile(fd, path, size);
}

std::string InputFile::name() const { return DisplayName(path_); }

Status InputFile::Read(uint8_t* buffer, size_t capacity, size_t* got)
{
    *got = 0;
    for (;;) {
        const ssize_t n = read(fd_, buffer, capacity);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            bytesRead_ += *got;
            return Status::Ok();
        }
        if (errno != EINTR)
            return Status::SystemFailure(kExitBadInput,
                                         name() + ": byte " + std::to_string(bytesRead_) + ": read failed", errno);
    }
}

Status ProbeInput(const std::string& path, const std::string& emptyMeaning)
{
    // Standard input, a pipe or a device cannot be probed without taking
    // bytes from the reader that follows (and closing a pipe's only reader
    // would end its writer): only files and folders are.
    struct stat st;
    if (path == "-" ||
        (stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode))))
        return Status::Ok();
    Result<InputFile> input = InputFile::Open(path);
    if (!input.ok())
        return input.status();
    uint8_t byte;
    size_t got = 0;
    const Status read = input.value().Read(&byte, 1, &got);
    if (!read.ok())
        return read;
    if (got == 0)
        return Status::Failure(kExitBadInput, DisplayName(path) + ": byte 0: empty input, " + emptyMeaning);
    return Status::Ok();
}

}  // namespace mervox::tools
