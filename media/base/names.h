// File names as the tools show them in text: "<stdin>" for "-", control
// characters escaped so that a message stays one line and a terminal is not
// driven by a name.
#pragma once

#include <string>

namespace mervox::media::base {

// "\n" -> "\\n", "\t" -> "\\t", other bytes below 0x20 and 0x7f -> "\\xNN",
// a backslash -> "\\\\"; everything else (UTF-8 included) unchanged.
std::string EscapeControlCharacters(const std::string& text);

// The path for a text message: "<stdin>"/"<stdout>" for "-" (as `isOutput`
// says), else the path with its control characters escaped (and its
// backslashes, except on Windows, where they separate folders).
std::string DisplayName(const std::string& path, bool isOutput = false);

// The path without the extension of its last component ("dir/call.bit" ->
// "dir/call"); a leading dot (".call") is a name, not an extension.
std::string PathWithoutExtension(const std::string& path);

}  // namespace mervox::media::base
