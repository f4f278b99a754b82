// Splitting file names into directory and name: '/' on POSIX systems; on
// Windows '\' as well, and a drive letter ("C:name") ends a directory part.
#pragma once

#include <string>

namespace mervox::media::platform {

// The separator put between a directory and a name.
extern const char kSeparator;

// Whether `c` separates directories in a name.
bool IsSeparator(char c);

// Where the name's last part starts: 0 when `path` has no directory part
// ("call.bit"), else one past the last separator (or the drive's colon).
size_t NameStart(const std::string& path);

// The last part of `path` ("dir/call.bit" -> "call.bit").
std::string BaseName(const std::string& path);

// The directory `path` is in, for checks: "." for a bare name, the root
// kept ("/x" -> "/", "C:\x" -> "C:\", "C:x" -> "C:.").
std::string DirectoryOf(const std::string& path);

// `directory` and `name` joined by one separator.
std::string Join(const std::string& directory, const std::string& name);

// `path` with '/' between its folders (on Windows '\\' becomes '/'; on
// POSIX systems unchanged), for links and URLs.
std::string WithSlashes(const std::string& path);

// Whether `path` is absolute ("/x"; on Windows also "C:/x", "C:\\x").
bool IsAbsolute(const std::string& path);

// Whether `path` ends in a separator (names a directory by its spelling).
bool EndsWithSeparator(const std::string& path);

}  // namespace mervox::media::platform
