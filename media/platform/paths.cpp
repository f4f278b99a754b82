#include "platform/paths.h"

namespace mervox::media::platform {

#ifdef _WIN32
const char kSeparator = '\\';
bool IsSeparator(char c) { return c == '/' || c == '\\'; }
// "C:" at the start: the drive, a directory part of its own.
static bool HasDrive(const std::string& path)
{
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}
#else
const char kSeparator = '/';
bool IsSeparator(char c) { return c == '/'; }
static bool HasDrive(const std::string&) { return false; }
#endif

size_t NameStart(const std::string& path)
{
    for (size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1]))
            return i;
    return HasDrive(path) ? 2 : 0;
}

std::string BaseName(const std::string& path) { return path.substr(NameStart(path)); }

std::string DirectoryOf(const std::string& path)
{
    const size_t start = NameStart(path);
    if (start == 0)
        return ".";
    const size_t root = HasDrive(path) ? 2 : 0;  // the drive stays
    if (start == root)
        return path.substr(0, root) + ".";  // "C:x": the drive's current directory
    size_t end = start - 1;                 // the separator before the name
    while (end > root && IsSeparator(path[end - 1]))
        --end;
    if (end == root)
        return path.substr(0, root + 1);  // the root ("/", "C:\")
    return path.substr(0, end);
}

std::string Join(const std::string& directory, const std::string& name)
{
    if (directory.empty() || EndsWithSeparator(directory) || (HasDrive(directory) && directory.size() == 2))
        return directory + name;
    return directory + kSeparator + name;
}

std::string WithSlashes(const std::string& original)
{
    std::string path = original;
    for (char& c : path)
        if (IsSeparator(c))
            c = '/';
    return path;
}

bool IsAbsolute(const std::string& path)
{
    const size_t root = HasDrive(path) ? 2 : 0;
    return path.size() > root && IsSeparator(path[root]);
}

bool EndsWithSeparator(const std::string& path) { return !path.empty() && IsSeparator(path.back()); }

}  // namespace mervox::media::platform
