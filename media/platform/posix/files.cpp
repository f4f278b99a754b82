#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files.h"

namespace mervox::media::platform {
namespace {

void Fill(const struct stat& st, FileStatus* status)
{
    status->kind = S_ISREG(st.st_mode)   ? FileKind::kRegular
                   : S_ISDIR(st.st_mode) ? FileKind::kDirectory
                                         : FileKind::kOther;
    status->size = static_cast<uint64_t>(st.st_size);
    status->device = static_cast<uint64_t>(st.st_dev);
    status->inode = static_cast<uint64_t>(st.st_ino);
    status->mode = static_cast<unsigned>(st.st_mode & 07777);
    status->modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

int StatPath(const std::string& path, FileStatus* status)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return errno;
    Fill(st, status);
    return 0;
}

int StatDescriptor(int fd, FileStatus* status)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errno;
    Fill(st, status);
    return 0;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> FollowLinks(std::string path, bool (*stopAt)(const std::string&))
{
    for (int hops = 0; hops < 40; ++hops) {
        if (stopAt(path))
            return path;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t n = readlink(path.c_str(), target.data(), PATH_MAX);
        if (n < 0)
            return path;
        std::string next(target.data(), static_cast<size_t>(n));
        if (next.empty() || next[0] != '/') {
            const size_t slash = path.find_last_of('/');
            if (slash != std::string::npos)
                next = path.substr(0, slash + 1) + next;
        }
        path = next;
    }
    return std::nullopt;
}

int OpenForReading(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC); }

int OpenForWriting(const std::string& path) { return open(path.c_str(), O_WRONLY | O_CLOEXEC); }

int CreateUniqueFile(std::string* name)
{
    std::vector<char> buffer(name->begin(), name->end());
    buffer.push_back('\0');
    const int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd >= 0)
        *name = buffer.data();
    return fd;
}

int ReopenForWriting(const std::string& path) { return open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW); }

std::FILE* OpenStreamForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

std::FILE* OpenStreamForAppending(const std::string& path) { return std::fopen(path.c_str(), "ab"); }

long long ReadSome(int fd, void* buffer, size_t size) { return read(fd, buffer, size); }

long long WriteSome(int fd, const void* bytes, size_t size) { return write(fd, bytes, size); }

long long WriteSomeAt(int fd, const void* bytes, size_t size, uint64_t offset)
{
    return pwrite(fd, bytes, size, static_cast<off_t>(offset));
}

int SeekTo(int fd, uint64_t offset) { return lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0; }

std::optional<uint64_t> Position(int fd)
{
    const off_t at = lseek(fd, 0, SEEK_CUR);
    return at < 0 ? std::nullopt : std::optional<uint64_t>(static_cast<uint64_t>(at));
}

int DescriptorWritable(int fd, bool* appends)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return errno;
    if ((flags & O_ACCMODE) == O_RDONLY)
        return EBADF;
    *appends = (flags & O_APPEND) != 0;
    return 0;
}

int CloseFile(int fd) { return close(fd) == 0 ? 0 : errno; }

int SyncFile(int fd)
{
    // Pipes and some file systems cannot be synchronised: nothing to wait for.
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
}

unsigned DefaultFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void SetFileMode(int fd, unsigned mode) { fchmod(fd, static_cast<mode_t>(mode)); }

int CanReplace(const std::string& path) { return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno; }

int CanCreateIn(const std::string& directory) { return access(directory.c_str(), W_OK | X_OK) == 0 ? 0 : errno; }

int MoveIntoPlace(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

int MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

int ListDirectory(const std::string& path, std::vector<std::string>* names)
{
    names->clear();
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return errno;
    int error = 0;
    for (;;) {
        errno = 0;  // readdir's end and its failure differ only here
        const dirent* entry = readdir(dir);
        if (!entry) {
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names->push_back(name);
    }
    closedir(dir);
    return error;
}

void RemoveFileQuietly(const char* path) { unlink(path); }

std::optional<uint64_t> OpenFileLimit()
{
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return static_cast<uint64_t>(files.rlim_cur);
}

std::string CurrentDirectory()
{
    std::vector<char> buffer(PATH_MAX + 1);
    return getcwd(buffer.data(), buffer.size()) ? buffer.data() : ".";
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

}  // namespace mervox::media::platform
