#include "signalling/sip_text.h"

#include <cctype>

namespace mervox::media::signalling {

std::string Trim(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
        --end;
    return text.substr(begin, end - begin);
}

std::string Bounded(const std::string& text, bool* cut)
{
    if (text.size() <= kMaxFieldBytes)
        return text;
    if (cut)
        *cut = true;
    return text.substr(0, kMaxFieldBytes);
}

namespace {
char LowerChar(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
}  // namespace

bool SameText(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    return i == a.size() && !b[i];
}

bool StartsWithText(const std::string& text, const char* prefix)
{
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (i >= text.size() || LowerChar(text[i]) != LowerChar(prefix[i]))
            return false;
    return true;
}

std::string Lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        c = LowerChar(c);
    return out;
}

std::string Parameter(const std::string& params, const char* name)
{
    size_t at = 0;
    while (at < params.size()) {
        const size_t semicolon = params.find(';', at);
        if (semicolon == std::string::npos)
            break;
        const size_t next = params.find(';', semicolon + 1);
        const std::string param =
            params.substr(semicolon + 1, next == std::string::npos ? std::string::npos : next - semicolon - 1);
        const size_t equals = param.find('=');
        if (equals != std::string::npos && SameText(Trim(param.substr(0, equals)), name)) {
            std::string value = Trim(param.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            return value;
        }
        at = semicolon + 1;
    }
    return {};
}

bool ParseCount(const std::string& text, size_t& value)
{
    const std::string digits = Trim(text);
    if (digits.empty() || digits.size() > 9)
        return false;
    size_t v = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<size_t>(c - '0');
    }
    value = v;
    return true;
}

}  // namespace mervox::media::signalling
