// Files and directories as the operating system offers them, behind one
// interface for POSIX systems (posix/files.cpp) and Windows
// (windows/files.cpp). Paths are UTF-8 everywhere (on Windows converted to
// UTF-16 for the wide-character calls); descriptors are the C runtime's
// (on Windows in binary mode). Calls that can fail return 0 or an errno
// value (a Windows error is translated to the nearest one), or -1 with
// errno set where they return a descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace mervox::media::platform {

enum class FileKind { kRegular, kDirectory, kOther };  // other: pipe, device, socket

struct FileStatus {
    FileKind kind = FileKind::kOther;
    uint64_t size = 0;
    // Which file it is: equal for two names of one file.
    uint64_t device = 0;
    uint64_t inode = 0;
    unsigned mode = 0;       // permission bits (POSIX; 0666 or 0444 on Windows)
    int64_t modifiedNs = 0;  // last written, in nanoseconds since 1970 (UTC); 0 if unknown
};

// After links. 0 or errno (ENOENT for a missing file).
int StatPath(const std::string& path, FileStatus* status);
int StatDescriptor(int fd, FileStatus* status);
bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);

// A name through its symbolic links (relative ones from the link's
// directory), to the first name that is not one (which need not exist) or
// for which `stopAt` is true; nullopt for a loop. Windows: the name itself.
std::optional<std::string> FollowLinks(std::string path, bool (*stopAt)(const std::string&));

// Descriptors. OpenForReading/OpenForWriting: an existing file (writing
// does not create or truncate: pipes and devices). -1 with errno.
int OpenForReading(const std::string& path);
int OpenForWriting(const std::string& path);
// A new file from `*name`, whose last six characters are "XXXXXX" and are
// replaced by the name taken; private to this user, readable and writable,
// removable while open. -1 with errno.
int CreateUniqueFile(std::string* name);
// The file created so, opened again for writing without following a link.
int ReopenForWriting(const std::string& path);
// A C stream for reading (captures), "rb".
std::FILE* OpenStreamForReading(const std::string& path);
// For appending (created if missing), as a log is written.
std::FILE* OpenStreamForAppending(const std::string& path);

// ssize_t-like: bytes moved, or -1 with errno.
long long ReadSome(int fd, void* buffer, size_t size);
long long WriteSome(int fd, const void* bytes, size_t size);
// At `offset`, the descriptor's position left as it was.
long long WriteSomeAt(int fd, const void* bytes, size_t size, uint64_t offset);
int SeekTo(int fd, uint64_t offset);  // 0 or errno
std::optional<uint64_t> Position(int fd);
// Whether a descriptor may be written, and whether it appends.
int DescriptorWritable(int fd, bool* appends);  // 0 or errno
int CloseFile(int fd);                          // 0 or errno
// Contents on the device (where the file system can say so).
int SyncFile(int fd);  // 0 or errno
// Permissions: of a new file (the user's default), and set on a descriptor.
unsigned DefaultFileMode();
void SetFileMode(int fd, unsigned mode);

// Names. CanReplace: whether the user meant an existing file to be
// writable (its own permission, not the directory's).
int CanReplace(const std::string& path);
int CanCreateIn(const std::string& directory);
// `from` takes the place of `to` in one step (an existing `to` replaced),
// on disk when this returns.
int MoveIntoPlace(const std::string& from, const std::string& to);
int RemoveFile(const std::string& path);
int MakeDirectory(const std::string& path);
// The names in a directory ("." and ".." left out), in no particular
// order, into *names. 0 or errno.
int ListDirectory(const std::string& path, std::vector<std::string>* names);
// For a handler that may not allocate: removes `path` (a C string).
void RemoveFileQuietly(const char* path);

// The working directory, with '/' between its folders on every system
// ("C:/Users/me" on Windows), or "." if it cannot be told.
std::string CurrentDirectory();

// How many files this process may have open (nullopt: no limit known).
std::optional<uint64_t> OpenFileLimit();

// The standard descriptors.
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;
bool IsTerminal(int fd);

}  // namespace mervox::media::platform
