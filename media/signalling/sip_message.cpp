#include "signalling/sip_message.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "signalling/sip_text.h"

namespace mervox::media::signalling {
namespace {

constexpr size_t kMaxMethod = 32;

bool IsTokenChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("-.!%*_+`'~", c);
}

// The first line, without its end; false when no line end within the bound
// (a datagram's single line counts).
bool FirstLine(const char* data, size_t size, std::string& line)
{
    const size_t limit = size < kMaxStartLineBytes ? size : kMaxStartLineBytes;
    const void* newline = std::memchr(data, '\n', limit);
    if (!newline && size > kMaxStartLineBytes)
        return false;
    const size_t end = newline ? static_cast<size_t>(static_cast<const char*>(newline) - data) : limit;
    line.assign(data, end);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool IsVersion(const std::string& text) { return SameText(text, "SIP/2.0"); }

// Splits the start line; false when it is none.
bool ParseStartLine(const std::string& line, SipMessage& out)
{
    const size_t space = line.find(' ');
    if (space == std::string::npos)
        return false;
    const std::string first = line.substr(0, space);
    if (IsVersion(first)) {
        const std::string rest = line.substr(space + 1);
        if (rest.size() < 3 || !std::isdigit(static_cast<unsigned char>(rest[0])) ||
            !std::isdigit(static_cast<unsigned char>(rest[1])) || !std::isdigit(static_cast<unsigned char>(rest[2])) ||
            (rest.size() > 3 && rest[3] != ' ' && rest[3] != '\t'))
            return false;
        out.request = false;
        out.status = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
        return out.status >= 100 && out.status <= 699;
    }
    if (first.empty() || first.size() > kMaxMethod)
        return false;
    for (const char c : first)
        if (!IsTokenChar(c))
            return false;
    const size_t last = line.find_last_of(' ');
    if (last == space || !IsVersion(Trim(line.substr(last + 1))))
        return false;
    out.request = true;
    out.method = first;
    return true;
}

// The header's long name for its compact form.
const char* LongName(const std::string& name)
{
    if (name.size() != 1)
        return nullptr;
    switch (name[0] | 0x20) {
    case 'i':
        return "call-id";
    case 'f':
        return "from";
    case 't':
        return "to";
    case 'l':
        return "content-length";
    case 'c':
        return "content-type";
    default:
        return nullptr;
    }
}

void TakeHeader(const std::string& rawName, const std::string& value, SipMessage& out, bool& haveLength, size_t& length,
                bool& badLength)
{
    const char* compact = LongName(rawName);
    const std::string name = compact ? compact : Lower(rawName);
    if (name == "call-id") {
        if (out.callId.empty())
            out.callId = Bounded(value, &out.longFields);
    } else if (name == "from") {
        out.from = ParseNameAddress(value);
    } else if (name == "to") {
        out.to = ParseNameAddress(value);
    } else if (name == "cseq") {
        const size_t space = value.find(' ');
        size_t number = 0;
        if (space != std::string::npos && ParseCount(value.substr(0, space), number)) {
            out.cseq = static_cast<uint32_t>(number);
            out.cseqMethod = Bounded(Trim(value.substr(space + 1)), &out.longFields);
        } else {
            ++out.malformedLines;
        }
    } else if (name == "content-length") {
        if (ParseCount(value, length))
            haveLength = true;
        else
            badLength = true;
    } else if (name == "replaces") {
        if (out.replaces.empty())
            out.replaces = Bounded(value, &out.longFields);
    } else if (name == "content-type") {
        const size_t semicolon = value.find(';');
        out.contentType = Bounded(Lower(Trim(value.substr(0, semicolon))), &out.longFields);
        if (semicolon != std::string::npos)
            out.boundary = Bounded(Parameter(value.substr(semicolon), "boundary"), &out.longFields);
    }
}

}  // namespace

NameAddress ParseNameAddress(const std::string& rawValue)
{
    NameAddress a;
    const std::string value = Trim(rawValue);
    std::string params;
    size_t at = 0;
    if (!value.empty() && value[0] == '"') {
        // A quoted display name; backslash escapes the next character.
        std::string name;
        size_t i = 1;
        for (; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            name += value[i];
        }
        a.displayName = Bounded(name);
        at = i < value.size() ? i + 1 : i;
    }
    const size_t open = value.find('<', at);
    if (open != std::string::npos) {
        if (a.displayName.empty())
            a.displayName = Bounded(Trim(value.substr(at, open - at)));
        const size_t close = value.find('>', open);
        a.uri =
            Bounded(Trim(value.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1)));
        if (close != std::string::npos)
            params = value.substr(close + 1);
    } else {
        // A bare URI without angle brackets: what follows its first ";" are
        // the header's parameters (the tag), not the URI's.
        const std::string rest = value.substr(at);
        const size_t semicolon = rest.find(';');
        a.uri = Bounded(Trim(rest.substr(0, semicolon)));
        if (semicolon != std::string::npos)
            params = rest.substr(semicolon);
    }
    a.tag = Bounded(Parameter(params, "tag"));
    return a;
}

bool StartsLikeSip(const char* data, size_t size)
{
    // Every start line begins with a letter (a method, or "SIP/2.0"); RTP
    // begins with 0x80-0xbf, so most datagrams stop here.
    if (size == 0 || !std::isalpha(static_cast<unsigned char>(data[0])))
        return false;
    std::string line;
    SipMessage ignored;
    return FirstLine(data, size, line) && ParseStartLine(line, ignored);
}

SipParse ParseSipMessage(const char* data, size_t size, bool datagram, SipMessage& out, size_t& consumed)
{
    out = SipMessage();
    consumed = 0;
    std::string line;
    if (!FirstLine(data, size, line) || !ParseStartLine(line, out))
        return SipParse::kNotSip;

    // Header lines up to the empty line (or, in a datagram, the end).
    const size_t limit = size < kMaxMessageBytes ? size : kMaxMessageBytes;
    size_t at = 0;
    bool ended = false;
    std::vector<std::string> lines;
    while (at < limit) {
        const void* newline = std::memchr(data + at, '\n', limit - at);
        if (!newline)
            break;
        const size_t end = static_cast<size_t>(static_cast<const char*>(newline) - data);
        std::string text(data + at, end - at);
        at = end + 1;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.empty() && !lines.empty()) {
            ended = true;
            break;
        }
        if (!lines.empty() && !text.empty() && (text[0] == ' ' || text[0] == '\t') && lines.size() > 1) {
            if (lines.back().size() < kMaxMessageBytes)
                lines.back() += " " + Trim(text);  // a folded line continues the header
        } else {
            lines.push_back(std::move(text));
        }
    }
    if (!ended) {
        if (!datagram)
            return size >= kMaxMessageBytes ? SipParse::kTooLarge : SipParse::kIncomplete;
        if (size > kMaxMessageBytes)
            return SipParse::kTooLarge;
        // A datagram without the empty line: headers to its end, no body.
        if (at < size)
            lines.emplace_back(data + at, size - at);
        at = size;
    }

    bool haveLength = false, badLength = false;
    size_t length = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (i > kMaxHeaderLines) {
            out.malformedLines += static_cast<uint32_t>(lines.size() - i);
            break;
        }
        const size_t colon = lines[i].find(':');
        const std::string name = colon == std::string::npos ? std::string() : Trim(lines[i].substr(0, colon));
        bool token = !name.empty();
        for (const char c : name)
            token = token && IsTokenChar(c);
        if (!token) {
            ++out.malformedLines;
            continue;
        }
        TakeHeader(name, Trim(lines[i].substr(colon + 1)), out, haveLength, length, badLength);
    }

    if (!datagram) {
        if (badLength)
            return SipParse::kBadLength;
        if (length > kMaxMessageBytes - (at < kMaxMessageBytes ? at : kMaxMessageBytes))
            return SipParse::kTooLarge;
        if (size - at < length) {
            consumed = at + length;  // what the whole message will take
            return SipParse::kIncomplete;
        }
        out.body.assign(data + at, length);
        consumed = at + length;
        return SipParse::kMessage;
    }
    if (badLength)
        ++out.malformedLines;
    const size_t available = size - at;
    if (haveLength && length > available)
        out.lengthPastEnd = true;  // the headers still count; the body is not all there
    else
        out.body.assign(data + at, haveLength ? length : available);
    consumed = size;
    return SipParse::kMessage;
}

}  // namespace mervox::media::signalling
