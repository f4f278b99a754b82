#include "input_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace mervox::cli {

std::string DisplayName(const std::string& path)
{
    return path == "-" ? "<stdin>" : path;
}

bool ReadInput(const std::string& path, std::vector<uint8_t>* bytes, std::string* error)
{
    bytes->clear();
    std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!in) {
        *error = DisplayName(path) + ": cannot open: " + std::strerror(errno);
        return false;
    }
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    const bool failed = std::ferror(in);
    const int readErrno = errno;
    if (in != stdin)
        std::fclose(in);
    if (failed) {
        *error = DisplayName(path) + ": byte " + std::to_string(bytes->size()) +
                 ": read failed: " + std::strerror(readErrno);
        return false;
    }
    return true;
}

bool ReadStreamInput(const std::string& path, std::vector<uint8_t>* bytes, std::string* error)
{
    if (!ReadInput(path, bytes, error))
        return false;
    if (bytes->empty()) {
        *error = DisplayName(path) + ": byte 0: empty input, no frames";
        return false;
    }
    return true;
}

std::string PathWithoutExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return hasExtension ? path.substr(0, dot) : path;
}

bool SameFile(const std::string& a, const std::string& b)
{
    if (a == "-" || b == "-")
        return false;
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISREG(sa.st_mode) && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace mervox::cli
