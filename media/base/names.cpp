#include "base/names.h"

#include "platform/paths.h"

namespace mervox::media::base {

namespace {

// `text` with control characters (and, when `backslash`, backslashes)
// written as escapes.
std::string Escaped(const std::string& text, bool backslash)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' && backslash)
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (byte < 0x20 || byte == 0x7f)
            out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string EscapeControlCharacters(const std::string& text) { return Escaped(text, true); }

std::string DisplayName(const std::string& path, bool isOutput)
{
    if (path == "-")
        return isOutput ? "<stdout>" : "<stdin>";
    // Where '\\' separates folders (Windows) it is shown as it is.
    return Escaped(path, !platform::IsSeparator('\\'));
}

std::string PathWithoutExtension(const std::string& path)
{
    const size_t nameStart = platform::NameStart(path);
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return hasExtension ? path.substr(0, dot) : path;
}

}  // namespace mervox::media::base
