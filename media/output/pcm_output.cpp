#include "output/pcm_output.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "base/names.h"
#include "output/atomic_file_sink.h"
#include "output/descriptor_sink.h"
#include "platform/files.h"

namespace mervox::media::output {
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

// Where a path leads: each symbolic link replaced by its target, up to the
// first name that is not a link, which need not exist. Stops early at a
// path naming a descriptor. nullopt for a loop of links.
std::optional<std::string> FollowLinks(const std::string& path)
{
    return platform::FollowLinks(path, [](const std::string& p) { return DescriptorOfPath(p).has_value(); });
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

base::Result<std::unique_ptr<PcmSink>> OpenPcmOutput(const std::string& path, PcmFormat format)
{
    if (path == "-")
        return DescriptorSink::Open(path, platform::kStandardOutput, false, format);
    const std::optional<std::string> target = FollowLinks(path);
    if (!target)
        return base::Status::SystemFailure(base::kExitOutputError, base::DisplayName(path) + ": cannot create output",
                                           ELOOP);
    if (const std::optional<int> fd = DescriptorOfPath(*target))
        return DescriptorSink::Open(path, *fd, false, format);
    platform::FileStatus st;
    if (platform::StatPath(*target, &st) == 0 && st.kind == platform::FileKind::kOther) {
        // A pipe or a device such as /dev/null: renaming a file onto it
        // would put a regular file in its place.
        const int fd = platform::OpenForWriting(*target);
        if (fd < 0)
            return base::Status::SystemFailure(base::kExitOutputError, base::DisplayName(path) + ": cannot open output",
                                               errno);
        return DescriptorSink::Open(path, fd, true, format);
    }
    return AtomicFileSink::Open(path, *target, format);
}

base::Result<std::unique_ptr<PcmSink>> OpenScratchOutput(const std::string& path, PcmFormat format)
{
    return AtomicFileSink::Open(path, path, format, false);
}

bool SameFile(const std::string& a, const std::string& b)
{
    if (a == "-" || b == "-")
        return false;
    platform::FileStatus sa, sb;
    return platform::StatPath(a, &sa) == 0 && StatPath(b, &sb) == 0 && sa.kind == platform::FileKind::kRegular &&
           sa.device == sb.device && sa.inode == sb.inode;
}

bool IsDirectory(const std::string& path) { return platform::IsDirectory(path); }

}  // namespace mervox::media::output
