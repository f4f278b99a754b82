#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/windows/wide.h"

namespace mervox::media::platform {
namespace {

// The file a handle is open on: its kind, size and identity (volume
// serial number and file index, as a device and inode number).
int FillFromHandle(HANDLE handle, FileStatus* status)
{
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        *status = FileStatus();
        status->kind = FileKind::kOther;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        // A handle without the right to read attributes (a standard
        // handle opened for writing only): a file, of unknown identity.
        *status = FileStatus();
        status->kind = FileKind::kRegular;
        LARGE_INTEGER size;
        if (GetFileSizeEx(handle, &size))
            status->size = static_cast<uint64_t>(size.QuadPart);
        return 0;
    }
    status->kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kDirectory : FileKind::kRegular;
    status->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status->device = info.dwVolumeSerialNumber;
    status->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    status->mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    // 100 ns units since 1601.
    const uint64_t written =
        (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    constexpr uint64_t kFrom1601To1970 = 116444736000000000u;
    status->modifiedNs = written == 0 ? 0 : (static_cast<int64_t>(written) - int64_t{kFrom1601To1970}) * 100;
    return 0;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A descriptor for a handle (which it then owns), -1 with errno on failure.
int DescriptorOf(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOfWindowsError(GetLastError());
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
}

unsigned ChunkOf(size_t size) { return static_cast<unsigned>(size < INT_MAX ? size : INT_MAX); }

}  // namespace

int StatPath(const std::string& path, FileStatus* status)
{
    // Opened for nothing but its attributes (folders too), whoever else has it open.
    const HANDLE handle =
        CreateFileW(Widen(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return ErrnoOfWindowsError(GetLastError());
    const int error = FillFromHandle(handle, status);
    CloseHandle(handle);
    return error;
}

int StatDescriptor(int fd, FileStatus* status)
{
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1)
        return EBADF;
    return FillFromHandle(reinterpret_cast<HANDLE>(handle), status);
}

bool Exists(const std::string& path) { return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::string> FollowLinks(std::string path, bool (*)(const std::string&)) { return path; }

int OpenForReading(const std::string& path)
{
    const int fd = _wopen(Widen(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    // The C runtime says "permission denied" for a folder.
    if (fd < 0 && errno == EACCES && IsDirectory(path))
        errno = EISDIR;
    return fd;
}

int OpenForWriting(const std::string& path)
{
    return _wopen(Widen(path).c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

int CreateUniqueFile(std::string* name)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random(std::random_device{}() ^ GetCurrentThreadId() ^ GetTickCount64());
    const size_t at = name->size() - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (size_t i = 0; i < 6; ++i)
            (*name)[at + i] = kLetters[random() % (sizeof kLetters - 1)];
        // Shared for deleting as well: the cleanup of an interrupted run
        // removes it while a worker still writes it.
        const HANDLE handle = CreateFileW(Widen(*name).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
            continue;
        return DescriptorOf(handle);
    }
    errno = EEXIST;
    return -1;
}

int ReopenForWriting(const std::string& path)
{
    return DescriptorOf(CreateFileW(Widen(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::FILE* OpenStreamForReading(const std::string& path) { return _wfopen(Widen(path).c_str(), L"rb"); }

std::FILE* OpenStreamForAppending(const std::string& path) { return _wfopen(Widen(path).c_str(), L"ab"); }

long long ReadSome(int fd, void* buffer, size_t size) { return _read(fd, buffer, ChunkOf(size)); }

long long WriteSome(int fd, const void* bytes, size_t size) { return _write(fd, bytes, ChunkOf(size)); }

long long WriteSomeAt(int fd, const void* bytes, size_t size, uint64_t offset)
{
    const long long position = _lseeki64(fd, 0, SEEK_CUR);
    if (position < 0 || _lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0)
        return -1;
    const long long written = WriteSome(fd, bytes, size);
    const int error = errno;
    if (_lseeki64(fd, position, SEEK_SET) < 0)
        return -1;
    errno = error;
    return written;
}

int SeekTo(int fd, uint64_t offset) { return _lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0 ? errno : 0; }

std::optional<uint64_t> Position(int fd)
{
    const long long at = _lseeki64(fd, 0, SEEK_CUR);
    return at < 0 ? std::nullopt : std::optional<uint64_t>(static_cast<uint64_t>(at));
}

int DescriptorWritable(int fd, bool* appends)
{
    // The C runtime keeps no access mode to ask: a descriptor that cannot
    // be written fails at the first write.
    *appends = false;
    return _get_osfhandle(fd) == -1 ? EBADF : 0;
}

int CloseFile(int fd) { return _close(fd) == 0 ? 0 : errno; }

int SyncFile(int fd)
{
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1)
        return EBADF;
    if (GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_DISK)
        return 0;
    return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) ? 0 : ErrnoOfWindowsError(GetLastError());
}

unsigned DefaultFileMode() { return 0666; }

// Windows files have no permission bits; the read-only attribute is not
// carried to a replacement (it would make the output one nobody can
// replace).
void SetFileMode(int, unsigned) {}

int CanReplace(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ErrnoOfWindowsError(GetLastError());
    return (attributes & FILE_ATTRIBUTE_READONLY) ? EACCES : 0;
}

int CanCreateIn(const std::string& directory)
{
    const DWORD attributes = GetFileAttributesW(Widen(directory).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ErrnoOfWindowsError(GetLastError());
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ENOTDIR;
}

int MoveIntoPlace(const std::string& from, const std::string& to)
{
    if (!MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ErrnoOfWindowsError(GetLastError());
    return 0;
}

int RemoveFile(const std::string& path)
{
    return DeleteFileW(Widen(path).c_str()) ? 0 : ErrnoOfWindowsError(GetLastError());
}

int MakeDirectory(const std::string& path)
{
    return CreateDirectoryW(Widen(path).c_str(), nullptr) ? 0 : ErrnoOfWindowsError(GetLastError());
}

int ListDirectory(const std::string& path, std::vector<std::string>* names)
{
    names->clear();
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(Widen(Join(path, "*")).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : ErrnoOfWindowsError(error);  // a folder with nothing in it
    }
    do {
        const std::string name = Narrow(found.cFileName);
        if (name != "." && name != "..")
            names->push_back(name);
    } while (FindNextFileW(find, &found));
    const DWORD error = GetLastError();
    FindClose(find);
    return error == ERROR_NO_MORE_FILES ? 0 : ErrnoOfWindowsError(error);
}

void RemoveFileQuietly(const char* path)
{
    // Only the termination handler calls this, one file after another.
    static wchar_t wide[32768];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, static_cast<int>(sizeof wide / sizeof wide[0])) > 0)
        DeleteFileW(wide);
}

// The C runtime's table of descriptors (msvcrt.dll: 2048 entries).
std::optional<uint64_t> OpenFileLimit() { return 2048; }

std::string CurrentDirectory()
{
    wchar_t* wide = _wgetcwd(nullptr, 0);
    if (!wide)
        return ".";
    std::string directory = Narrow(wide);
    std::free(wide);
    for (char& c : directory)
        if (c == '\\')
            c = '/';
    return directory;
}

bool IsTerminal(int fd) { return _isatty(fd) != 0; }

}  // namespace mervox::media::platform
