#include "base/make_directories.h"

#include <cerrno>

#include "base/names.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace mervox::media::base {

Status MakeDirectories(const std::string& path)
{
    // Each folder on the way ends before a separator; the last at the end.
    for (size_t end = 0; end <= path.size(); ++end) {
        if (end < path.size() && !platform::IsSeparator(path[end]))
            continue;
        const std::string folder = path.substr(0, end);
        // Nothing to make: the root, a drive ("C:"), the empty part between
        // two separators, or a folder that is there.
        if (folder.empty() || platform::IsSeparator(folder.back()) || platform::NameStart(folder) == folder.size() ||
            platform::IsDirectory(folder))
            continue;
        const int error = platform::MakeDirectory(folder);
        if (error != 0 && !platform::IsDirectory(folder))
            return Status::SystemFailure(kExitOutputError, DisplayName(folder) + ": cannot create the directory",
                                         error == EEXIST ? ENOTDIR : error);
    }
    return Status::Ok();
}

}  // namespace mervox::media::base
