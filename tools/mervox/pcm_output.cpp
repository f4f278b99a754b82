#include "pcm_output.h"

#include <fcntl.h>
#include <limits.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace mervox::cli {
namespace {

std::string Lowercase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool EndsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int SndfileFormat(PcmFormat format)
{
    return format == PcmFormat::kWav ? (SF_FORMAT_WAV | SF_FORMAT_PCM_16)
                                     : (SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE);
}

// A growable, seekable in-memory file for libsndfile's virtual I/O.
struct MemoryFile {
    std::vector<unsigned char> bytes;
    sf_count_t position = 0;

    static sf_count_t Length(void* self) { return static_cast<sf_count_t>(Get(self).bytes.size()); }
    static sf_count_t Seek(sf_count_t offset, int whence, void* self)
    {
        MemoryFile& f = Get(self);
        sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f.position : Length(self);
        if (base + offset < 0)
            return -1;
        f.position = base + offset;
        return f.position;
    }
    static sf_count_t Read(void* dst, sf_count_t count, void* self)
    {
        MemoryFile& f = Get(self);
        const sf_count_t size = Length(self);
        const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - f.position));
        if (n > 0)
            std::memcpy(dst, f.bytes.data() + f.position, static_cast<size_t>(n));
        f.position += n;
        return n;
    }
    static sf_count_t Write(const void* src, sf_count_t count, void* self)
    {
        MemoryFile& f = Get(self);
        const size_t end = static_cast<size_t>(f.position + count);
        if (end > f.bytes.size())
            f.bytes.resize(end);
        std::memcpy(f.bytes.data() + f.position, src, static_cast<size_t>(count));
        f.position += count;
        return count;
    }
    static sf_count_t Tell(void* self) { return Get(self).position; }
    static MemoryFile& Get(void* self) { return *static_cast<MemoryFile*>(self); }
};

SF_VIRTUAL_IO MemoryFileIo()
{
    SF_VIRTUAL_IO io;
    io.get_filelen = &MemoryFile::Length;
    io.seek = &MemoryFile::Seek;
    io.read = &MemoryFile::Read;
    io.write = &MemoryFile::Write;
    io.tell = &MemoryFile::Tell;
    return io;
}

// Permissions a newly created file would get (mkstemp makes 0600).
mode_t DefaultFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// An existing path that is not a regular file (a pipe, a device such as
// /dev/null): it cannot be replaced by renaming a temporary file onto it,
// which would put a regular file in its place.
bool IsSpecialFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// Where a file output finally goes: the file a symbolic link points to (the
// rename must replace that file, not the link), else the path itself.
std::string FinalPath(const std::string& path)
{
    struct stat st;
    char resolved[PATH_MAX];
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && realpath(path.c_str(), resolved))
        return resolved;
    return path;
}

bool WriteAll(int fd, const unsigned char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

struct PcmOutput::Impl {
    SNDFILE* file = nullptr;
    SF_VIRTUAL_IO io = MemoryFileIo();
    MemoryFile memory;       // stdout and special files only
    bool toStdout = false;
    uint64_t maxSamples = 0;
    int directFd = -1;          // special files: written at Commit
    std::string temporaryPath;  // regular files only: where the data goes until Commit
    std::string finalPath;      // regular files only: what the temporary file replaces
};

std::optional<PcmFormat> PcmFormatFromPath(const std::string& path)
{
    if (path == "-")
        return PcmFormat::kWav;
    const std::string lower = Lowercase(path);
    if (EndsWith(lower, ".wav"))
        return PcmFormat::kWav;
    if (EndsWith(lower, ".raw") || EndsWith(lower, ".pcm"))
        return PcmFormat::kRaw;
    return std::nullopt;
}

std::optional<PcmFormat> PcmFormatFromName(const std::string& name)
{
    const std::string lower = Lowercase(name);
    if (lower == "wav")
        return PcmFormat::kWav;
    if (lower == "raw")
        return PcmFormat::kRaw;
    return std::nullopt;
}

PcmOutput::PcmOutput(std::unique_ptr<Impl> impl, std::string path) : impl_(std::move(impl)), path_(std::move(path)) {}

std::unique_ptr<PcmOutput> PcmOutput::Open(const std::string& path, PcmFormat format, int sampleRate,
                                           std::string* error)
{
    auto impl = std::make_unique<Impl>();
    impl->maxSamples = MaxSamples(format);
    SF_INFO info = {};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SndfileFormat(format);

    if (path == "-") {
        impl->toStdout = true;
        impl->file = sf_open_virtual(&impl->io, SFM_WRITE, &info, &impl->memory);
        if (!impl->file) {
            *error = "<stdout>: cannot start output: " + std::string(sf_strerror(nullptr));
            return nullptr;
        }
    } else if (IsSpecialFile(path)) {
        impl->directFd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (impl->directFd < 0) {
            *error = path + ": cannot open output: " + std::strerror(errno);
            return nullptr;
        }
        impl->file = sf_open_virtual(&impl->io, SFM_WRITE, &info, &impl->memory);
        if (!impl->file) {
            *error = path + ": cannot start output: " + std::string(sf_strerror(nullptr));
            close(impl->directFd);
            return nullptr;
        }
    } else {
        impl->finalPath = FinalPath(path);
        const std::string& target = impl->finalPath;
        const size_t slash = target.find_last_of('/');
        const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        std::string name = (slash == std::string::npos ? "./" : dir) + "." + base + ".XXXXXX";
        std::vector<char> templ(name.begin(), name.end());
        templ.push_back('\0');
        const int fd = mkstemp(templ.data());
        if (fd < 0) {
            *error = path + ": cannot create output in " + dir + ": " + std::strerror(errno);
            return nullptr;
        }
        impl->temporaryPath = templ.data();
        // A replaced file keeps its permissions (a private file stays private).
        struct stat existing;
        fchmod(fd, stat(target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : DefaultFileMode());
        impl->file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
        if (!impl->file) {
            *error = path + ": cannot start output: " + sf_strerror(nullptr);
            close(fd);
            unlink(impl->temporaryPath.c_str());
            return nullptr;
        }
    }
    return std::unique_ptr<PcmOutput>(new PcmOutput(std::move(impl), path));
}

PcmOutput::~PcmOutput()
{
    if (!finished_)
        Discard();
}

void PcmOutput::Discard()
{
    finished_ = true;
    if (impl_->file)
        sf_close(impl_->file);
    impl_->file = nullptr;
    if (impl_->directFd >= 0)
        close(impl_->directFd);
    impl_->directFd = -1;
    if (!impl_->temporaryPath.empty())
        unlink(impl_->temporaryPath.c_str());
}

bool PcmOutput::Write(const int16_t* samples, size_t count)
{
    if (finished_) {
        error_ = path_ + ": output already finished";
        return false;
    }
    if (count > impl_->maxSamples - samplesWritten_) {
        // libsndfile would wrap the sizes in the header and report success.
        error_ = path_ + ": more than " + std::to_string(impl_->maxSamples) +
                 " samples (about 74 hours), beyond what a WAV file can hold; use raw output (-f raw)";
        Discard();
        return false;
    }
    const sf_count_t written = sf_write_short(impl_->file, samples, static_cast<sf_count_t>(count));
    if (written != static_cast<sf_count_t>(count)) {
        error_ = path_ + ": write failed after " + std::to_string(samplesWritten_ * 2 + written * 2) +
                 " data bytes: " + sf_strerror(impl_->file);
        Discard();
        return false;
    }
    samplesWritten_ += count;
    return true;
}

uint64_t PcmOutput::MaxSamples(PcmFormat format)
{
    return format == PcmFormat::kWav ? (0xffffffffu - 36) / 2 : UINT64_MAX;
}

bool PcmOutput::Commit()
{
    if (finished_) {
        if (error_.empty())
            error_ = path_ + ": output already finished";
        return false;
    }
    if (!impl_->temporaryPath.empty())
        sf_write_sync(impl_->file);  // on disk before it gets its final name
    const int closeError = sf_close(impl_->file);
    impl_->file = nullptr;
    if (closeError != 0) {
        error_ = path_ + ": cannot finish output: " + sf_error_number(closeError);
        Discard();
        return false;
    }
    if (impl_->toStdout) {
        const std::vector<unsigned char>& bytes = impl_->memory.bytes;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
        finished_ = true;
        if (!ok) {
            error_ = std::string("<stdout>: write failed: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    if (impl_->directFd >= 0) {
        const std::vector<unsigned char>& bytes = impl_->memory.bytes;
        const bool written = WriteAll(impl_->directFd, bytes.data(), bytes.size());
        const int writeErrno = errno;
        const bool closed = close(impl_->directFd) == 0;
        impl_->directFd = -1;
        finished_ = true;
        if (!written || !closed) {
            error_ = path_ + ": write failed: " + std::strerror(written ? errno : writeErrno);
            return false;
        }
        return true;
    }
    if (std::rename(impl_->temporaryPath.c_str(), impl_->finalPath.c_str()) != 0) {
        error_ = path_ + ": cannot move output into place: " + std::strerror(errno);
        Discard();
        return false;
    }
    finished_ = true;
    return true;
}

}  // namespace mervox::cli
