#include "pcm_output.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

#include "atomic_file_sink.h"
#include "descriptor_sink.h"
#include "names.h"

namespace mervox::tools {
namespace {

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::optional<int> ParseDescriptor(const std::string& digits)
{
    int fd = -1;
    const char* end = digits.data() + digits.size();
    const std::from_chars_result r = std::from_chars(digits.data(), end, fd);
    if (digits.empty() || r.ec != std::errc() || r.ptr != end || fd < 0)
        return std::nullopt;
    return fd;
}

// Where a path leads: each symbolic link replaced by its target (relative
// targets from the link's directory), up to the first name that is not a
// link, which need not exist. Stops early at a path naming a descriptor.
// nullopt for a loop of links.
std::optional<std::string> FollowLinks(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        if (DescriptorOfPath(path))
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

}  // namespace

std::optional<int> DescriptorOfPath(const std::string& path)
{
    if (path == "/dev/stdin")
        return 0;
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    for (const std::string& prefix :
         {std::string("/dev/fd/"), std::string("/proc/self/fd/"), std::string("/proc/thread-self/fd/"),
          "/proc/" + std::to_string(getpid()) + "/fd/"})
        if (StartsWith(path, prefix))
            return ParseDescriptor(path.substr(prefix.size()));
    return std::nullopt;
}

Result<std::unique_ptr<PcmSink>> OpenPcmOutput(const std::string& path, PcmFormat format)
{
    if (path == "-")
        return DescriptorSink::Open(path, STDOUT_FILENO, false, format);
    const std::optional<std::string> target = FollowLinks(path);
    if (!target)
        return Status::SystemFailure(kExitOutputError, DisplayName(path) + ": cannot create output", ELOOP);
    if (const std::optional<int> fd = DescriptorOfPath(*target))
        return DescriptorSink::Open(path, *fd, false, format);
    struct stat st;
    if (stat(target->c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // A pipe or a device such as /dev/null: renaming a file onto it
        // would put a regular file in its place.
        const int fd = open(target->c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return Status::SystemFailure(kExitOutputError, DisplayName(path) + ": cannot open output", errno);
        return DescriptorSink::Open(path, fd, true, format);
    }
    return AtomicFileSink::Open(path, *target, format);
}

bool SameFile(const std::string& a, const std::string& b)
{
    if (a == "-" || b == "-")
        return false;
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISREG(sa.st_mode) && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace mervox::tools
