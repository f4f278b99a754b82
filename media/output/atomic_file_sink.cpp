#include "output/atomic_file_sink.h"

#include <cerrno>
#include <cstdio>

#include "base/file_names.h"
#include "mervox.h"
#include "output/fd_io.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace mervox::media::output {
namespace {

// "dir/.NAME.XXXXXX" for the target "dir/NAME", NAME cut short (at a
// character's start, so that a UTF-8 name stays one) so that the name
// stays within base::kMaxNameBytes.
std::string TemporaryTemplate(const std::string& target)
{
    const size_t start = platform::NameStart(target);
    const std::string dir = target.substr(0, start);
    std::string name = target.substr(start);
    const size_t extra = std::string(".").size() + std::string(".XXXXXX").size();
    if (name.size() + extra > base::kMaxNameBytes) {
        size_t cut = base::kMaxNameBytes - extra;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return dir + "." + name + ".XXXXXX";
}

}  // namespace

base::Result<std::unique_ptr<PcmSink>> AtomicFileSink::Open(const std::string& path, const std::string& target,
                                                            PcmFormat format, bool durable)
{
    std::unique_ptr<AtomicFileSink> sink(new AtomicFileSink(path, format));
    sink->target_ = target;
    sink->durable_ = durable;

    platform::FileStatus existing;
    const bool exists = platform::StatPath(target, &existing) == 0;
    if (exists && existing.kind == platform::FileKind::kDirectory)
        return base::Status::SystemFailure(base::kExitOutputError, sink->name() + ": cannot create output", EISDIR);
    // Renaming needs only the directory's permission; the file's own says
    // whether the user meant it to be replaced.
    const int readOnly = exists ? platform::CanReplace(target) : 0;
    if (readOnly != 0)
        return base::Status::SystemFailure(base::kExitOutputError, sink->name() + ": cannot replace the existing file",
                                           readOnly);

    std::string name = TemporaryTemplate(target);
    {
        // No termination may come between creating the file and registering it.
        const platform::TerminationHeld held;
        const int fd = platform::CreateUniqueFile(&name);
        if (fd < 0) {
            const int error = errno;
            const size_t start = platform::NameStart(target);
            const std::string dir = start == 0 ? "." : target.substr(0, start);
            return base::Status::SystemFailure(base::kExitOutputError,
                                               sink->name() + ": cannot create output in " + dir, error);
        }
        sink->fd_ = fd;
        sink->temporaryPath_ = name;
        sink->registration_ = std::make_unique<TemporaryFileRegistration>(sink->temporaryPath_);
    }
    platform::InterruptIfTesting();
    // A replaced file keeps its permissions (a private file stays private).
    platform::SetFileMode(sink->fd_, exists ? existing.mode : platform::DefaultFileMode());
    platform::FileStatus created;
    if (platform::StatDescriptor(sink->fd_, &created) == 0) {
        sink->device_ = created.device;
        sink->inode_ = created.inode;
    }
    base::Status started = sink->Start();
    if (!started.ok())
        return started;
    return std::unique_ptr<PcmSink>(std::move(sink));
}

AtomicFileSink::~AtomicFileSink() { AbandonUnlessFinished(); }

base::Status AtomicFileSink::WriteBytes(const uint8_t* bytes, size_t size)
{
    const int error = WriteAll(fd_, bytes, size);
    return error == 0 ? base::Status::Ok() : WriteFailure(error);
}

base::Status AtomicFileSink::Complete(uint64_t dataBytes)
{
    if (IsWav(format())) {
        const auto header = WavHeader(MERVOX_SAMPLE_RATE, dataBytes, Channels(format()));
        const int error = WriteAllAt(fd_, header.data(), header.size(), 0);
        if (error != 0)
            return WriteFailure(error);
    }
    // On disk before it gets its final name.
    const int unsynced = durable_ ? platform::SyncFile(fd_) : 0;
    if (unsynced != 0)
        return base::Status::SystemFailure(base::kExitOutputError, name() + ": cannot finish output", unsynced);
    const int unclosed = platform::CloseFile(fd_);
    fd_ = -1;
    if (unclosed != 0)
        return base::Status::SystemFailure(base::kExitOutputError, name() + ": cannot finish output", unclosed);
    const int unmoved = platform::MoveIntoPlace(temporaryPath_, target_);
    if (unmoved != 0)
        return base::Status::SystemFailure(base::kExitOutputError, name() + ": cannot move output into place", unmoved);
    registration_.reset();
    temporaryPath_.clear();
    return base::Status::Ok();
}

base::Status AtomicFileSink::Suspend()
{
    const int error = platform::CloseFile(fd_);
    fd_ = -1;
    // What closing reports (a full disk on a network file system) is a
    // write that failed.
    return error == 0 ? base::Status::Ok() : WriteFailure(error);
}

base::Status AtomicFileSink::Reopen()
{
    const int fd = platform::ReopenForWriting(temporaryPath_);
    if (fd < 0)
        return base::Status::SystemFailure(base::kExitOutputError, name() + ": cannot reopen output", errno);
    platform::FileStatus st;
    // The same file (not a link to another), as long as it was left.
    if (platform::StatDescriptor(fd, &st) != 0 || st.device != device_ || st.inode != inode_ ||
        st.kind != platform::FileKind::kRegular || st.size != bytesWritten()) {
        platform::CloseFile(fd);
        return base::Status::Failure(base::kExitOutputError, name() + ": cannot reopen output: its temporary file " +
                                                                 temporaryPath_ + " was replaced");
    }
    fd_ = fd;
    const int unsought = platform::SeekTo(fd_, bytesWritten());
    if (unsought != 0)
        return base::Status::SystemFailure(base::kExitOutputError, name() + ": cannot reopen output", unsought);
    return base::Status::Ok();
}

void AtomicFileSink::Abandon()
{
    if (fd_ >= 0)
        platform::CloseFile(fd_);
    fd_ = -1;
    if (!temporaryPath_.empty())
        platform::RemoveFile(temporaryPath_);
    temporaryPath_.clear();
    registration_.reset();
}

}  // namespace mervox::media::output
