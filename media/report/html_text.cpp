#include "report/html_text.h"

#include <cstdint>
#include <vector>

namespace mervox::media::report {
namespace {

// The length of the valid UTF-8 sequence at `text[i]`, 0 if there is none
// (overlong forms, surrogates and values past U+10FFFF are invalid).
size_t Utf8Length(std::string_view text, size_t i)
{
    const auto b0 = static_cast<uint8_t>(text[i]);
    if (b0 < 0x80)
        return 1;
    size_t n = 0;
    uint32_t min = 0, value = 0;
    if ((b0 & 0xe0) == 0xc0) {
        n = 2, min = 0x80, value = b0 & 0x1fu;
    } else if ((b0 & 0xf0) == 0xe0) {
        n = 3, min = 0x800, value = b0 & 0x0fu;
    } else if ((b0 & 0xf8) == 0xf0) {
        n = 4, min = 0x10000, value = b0 & 0x07u;
    } else {
        return 0;
    }
    if (i + n > text.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<uint8_t>(text[i + k]);
        if ((b & 0xc0) != 0x80)
            return 0;
        value = value << 6 | (b & 0x3fu);
    }
    if (value < min || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0;
    // C1 controls (U+0080..U+009F) are control characters too.
    if (value < 0xa0)
        return 0;
    return n;
}

// One character's length, invalid bytes counting one each.
size_t CharacterLength(std::string_view text, size_t i)
{
    const size_t n = Utf8Length(text, i);
    return n == 0 ? 1 : n;
}

std::vector<std::string> Segments(const std::string& path)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") {
            if (!out.empty() && out.back() != "..")
                out.pop_back();
            else if (path.empty() || path[0] != '/')
                out.push_back(part);  // above a relative start: kept
        } else if (!part.empty() && part != ".") {
            out.push_back(part);
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return out;
}

}  // namespace

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        const size_t n = Utf8Length(text, i);
        if (n == 0 || static_cast<uint8_t>(c) < 0x20 || c == 0x7f) {
            out += "&#xFFFD;";
            ++i;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

std::string ShortText(std::string_view text, size_t characters)
{
    size_t i = 0, count = 0;
    while (i < text.size() && count < characters) {
        i += CharacterLength(text, i);
        ++count;
    }
    if (i >= text.size())
        return std::string(text);
    // Room for the ellipsis: one character fewer.
    size_t end = 0;
    for (size_t k = 0; k + 1 < characters && end < text.size(); ++k)
        end += CharacterLength(text, end);
    return std::string(text.substr(0, end)) + "\u2026";
}

std::string UrlPath(std::string_view path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto b = static_cast<uint8_t>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || c == '/') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

std::string RelativePath(const std::string& fromDirectory, const std::string& target)
{
    const std::vector<std::string> from = Segments(fromDirectory);
    const std::vector<std::string> to = Segments(target);
    size_t common = 0;
    while (common < from.size() && common < to.size() && from[common] == to[common] && from[common] != "..")
        ++common;
    std::string out;
    for (size_t i = common; i < from.size(); ++i)
        out += "../";
    for (size_t i = common; i < to.size(); ++i)
        out += to[i] + (i + 1 < to.size() ? "/" : "");
    return out;
}

}  // namespace mervox::media::report
