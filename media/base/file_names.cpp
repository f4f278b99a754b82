#include "base/file_names.h"

#include <algorithm>
#include <cctype>

#include "platform/paths.h"

namespace mervox::media::base {
namespace {

bool Kept(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '+' || c == '=' || c == '@' || c == ',' || c == '~';
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// CON, PRN, AUX, NUL, COM0-9 and LPT0-9, in any case: names Windows keeps
// for devices, with or without an extension.
bool IsDeviceName(const std::string& part)
{
    const std::string base = Lower(part.substr(0, part.find('.')));
    if (base == "con" || base == "prn" || base == "aux" || base == "nul")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) && base[3] >= '0' &&
           base[3] <= '9';
}

}  // namespace

std::string SafeNamePart(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool dotKept = c == '.' && i > 0 && i + 1 < text.size() && text[i - 1] != '.' && text[i + 1] != '.';
        const size_t width = Kept(c) || dotKept ? 1 : 3;
        if (out.size() + width > kNamePartBytes)
            break;
        if (width == 1)
            out += static_cast<char>(c);
        else
            out += {'%', kHex[c >> 4], kHex[c & 15]};
    }
    // A cut part may end in a dot that had a neighbour.
    if (!out.empty() && out.back() == '.')
        out.replace(out.size() - 1, 1, "%2E");
    if (out.size() > kNamePartBytes)
        out.resize(out.size() - 3);
    if (out.empty())
        return "_";
    if (IsDeviceName(out)) {
        out.insert(out.find('.') == std::string::npos ? out.size() : out.find('.'), "_");
        if (out.size() > kNamePartBytes) {
            // Cut again, before an escape the cut would split and before a last dot.
            const size_t percent = out.find_last_of('%');
            out.resize(percent != std::string::npos && percent + 3 > kNamePartBytes ? percent : kNamePartBytes);
            while (out.back() == '.')
                out.pop_back();
        }
    }
    return out;
}

std::string FitName(const std::string& head, const std::string& kept, const std::string& tail, const std::string& end)
{
    const size_t start = platform::NameStart(head);
    const size_t length = head.size() - start + kept.size() + tail.size() + end.size();
    size_t over = length > kMaxNameBytes ? length - kMaxNameBytes : 0;
    std::string cutTail = tail;
    if (over > 0) {
        size_t keep = over < tail.size() ? tail.size() - over : 0;
        const size_t percent = tail.find_last_of('%', keep == 0 ? 0 : keep - 1);
        if (keep > 0 && percent != std::string::npos && percent + 3 > keep)
            keep = percent;  // not inside an escape
        while (keep > 0 && tail[keep - 1] == '.')
            --keep;
        cutTail.resize(keep);
        over -= std::min(over, tail.size() - keep);
    }
    size_t headEnd = head.size();
    if (over > 0) {
        headEnd = head.size() - std::min(over, head.size() - start);
        while (headEnd > start && (static_cast<unsigned char>(head[headEnd]) & 0xC0) == 0x80)
            --headEnd;  // not inside a character
    }
    return head.substr(0, headEnd) + kept + cutTail + end;
}

std::string UniqueNames::Claim(const std::string& head, const std::string& kept, const std::string& tail,
                               const std::string& extension)
{
    std::string candidate = FitName(head, kept, tail, extension);
    for (unsigned n = 2; !taken_.insert(Lower(candidate)).second; ++n)
        candidate = FitName(head, kept, tail, "-" + std::to_string(n) + extension);
    return candidate;
}

std::string UniqueNames::Claim(const std::string& head, const std::string& kept, const std::string& tail,
                               const std::string& extension, double time)
{
    std::string name = Claim(head, kept, tail, extension);
    byTime_.emplace(time, Lower(name));
    return name;
}

void UniqueNames::Forget(double before)
{
    const auto end = byTime_.lower_bound(before);
    for (auto i = byTime_.begin(); i != end; ++i)
        taken_.erase(i->second);
    byTime_.erase(byTime_.begin(), end);
}

std::string UniqueNames::Claim(const std::string& name)
{
    const size_t dot = name.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot >= platform::NameStart(name);
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : "";
    std::string candidate = name;
    for (unsigned n = 2; !taken_.insert(Lower(candidate)).second; ++n)
        candidate = stem + "-" + std::to_string(n) + extension;
    return candidate;
}

}  // namespace mervox::media::base
