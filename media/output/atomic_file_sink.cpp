#include "atomic_file_sink.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "fd_io.h"
#include "mervox.h"

namespace mervox::tools {
namespace {

// Permissions a newly created file would get (mkstemp makes 0600).
mode_t DefaultFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// "dir/.NAME.XXXXXX" for the target "dir/NAME", NAME cut short so that the
// name stays within NAME_MAX.
std::string TemporaryTemplate(const std::string& target)
{
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "./" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const size_t extra = std::string(".").size() + std::string(".XXXXXX").size();
    if (base.size() + extra > NAME_MAX)
        base.resize(NAME_MAX - extra);
    return dir + "." + base + ".XXXXXX";
}

// Holds back the cleanup signals for its lifetime.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ})
            sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

}  // namespace

Result<std::unique_ptr<PcmSink>> AtomicFileSink::Open(const std::string& path, const std::string& target,
                                                      PcmFormat format)
{
    std::unique_ptr<AtomicFileSink> sink(new AtomicFileSink(path, format));
    sink->target_ = target;

    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return Status::SystemFailure(kExitOutputError, sink->name() + ": cannot create output", EISDIR);
    // Renaming needs only the directory's permission; the file's own says
    // whether the user meant it to be replaced.
    if (exists && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return Status::SystemFailure(kExitOutputError, sink->name() + ": cannot replace the existing file", errno);

    std::string templ = TemporaryTemplate(target);
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    // No signal may come between creating the file and registering it.
    const SignalsHeld held;
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        const size_t slash = target.find_last_of('/');
        const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        return Status::SystemFailure(kExitOutputError, sink->name() + ": cannot create output in " + dir, error);
    }
    sink->fd_ = fd;
    sink->temporaryPath_ = name.data();
    sink->registration_ = std::make_unique<TemporaryFileRegistration>(sink->temporaryPath_);
    // A replaced file keeps its permissions (a private file stays private).
    fchmod(fd, exists ? existing.st_mode & 07777 : DefaultFileMode());
    struct stat created;
    if (fstat(fd, &created) == 0) {
        sink->device_ = created.st_dev;
        sink->inode_ = created.st_ino;
    }
    Status started = sink->Start();
    if (!started.ok())
        return started;
    return std::unique_ptr<PcmSink>(std::move(sink));
}

AtomicFileSink::~AtomicFileSink() { AbandonUnlessFinished(); }

Status AtomicFileSink::WriteBytes(const uint8_t* bytes, size_t size)
{
    const int error = WriteAll(fd_, bytes, size);
    return error == 0 ? Status::Ok() : WriteFailure(error);
}

Status AtomicFileSink::Complete(uint64_t dataBytes)
{
    if (format() == PcmFormat::kWav) {
        const auto header = WavHeader(MERVOX_SAMPLE_RATE, dataBytes);
        const int error = WriteAllAt(fd_, header.data(), header.size(), 0);
        if (error != 0)
            return WriteFailure(error);
    }
    // On disk before it gets its final name.
    if (fsync(fd_) != 0 && errno != EINVAL && errno != EROFS)
        return Status::SystemFailure(kExitOutputError, name() + ": cannot finish output", errno);
    const int closed = close(fd_);
    fd_ = -1;
    if (closed != 0)
        return Status::SystemFailure(kExitOutputError, name() + ": cannot finish output", errno);
    if (std::rename(temporaryPath_.c_str(), target_.c_str()) != 0)
        return Status::SystemFailure(kExitOutputError, name() + ": cannot move output into place", errno);
    registration_.reset();
    temporaryPath_.clear();
    return Status::Ok();
}

Status AtomicFileSink::Suspend()
{
    const int closed = close(fd_);
    fd_ = -1;
    // What close() reports (a full disk on a network file system) is a
    // write that failed.
    return closed == 0 ? Status::Ok() : WriteFailure(errno);
}

Status AtomicFileSink::Reopen()
{
    const int fd = open(temporaryPath_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return Status::SystemFailure(kExitOutputError, name() + ": cannot reopen output", errno);
    struct stat st;
    // The same file (not a link to another), as long as it was left.
    if (fstat(fd, &st) != 0 || st.st_dev != device_ || st.st_ino != inode_ || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) != bytesWritten()) {
        close(fd);
        return Status::Failure(kExitOutputError, name() + ": cannot reopen output: its temporary file " +
                                                     temporaryPath_ + " was replaced");
    }
    fd_ = fd;
    if (lseek(fd_, static_cast<off_t>(bytesWritten()), SEEK_SET) < 0)
        return Status::SystemFailure(kExitOutputError, name() + ": cannot reopen output", errno);
    return Status::Ok();
}

void AtomicFileSink::Abandon()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    if (!temporaryPath_.empty())
        unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
    registration_.reset();
}

}  // namespace mervox::tools
