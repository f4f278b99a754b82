#include "signalling/message_body.h"

#include "signalling/sip_text.h"

namespace mervox::media::signalling {
namespace {

bool LooksLikeSdp(const std::string& body) { return body.compare(0, 2, "v=") == 0; }

// The part's content type (lower case, without parameters) and its body.
void SplitPart(const std::string& part, std::string& type, std::string& body)
{
    size_t at = 0;
    type.clear();
    while (at < part.size()) {
        size_t end = part.find('\n', at);
        if (end == std::string::npos)
            end = part.size();
        std::string line = part.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string name = Trim(line.substr(0, colon));
        if (SameText(name, "content-type") || SameText(name, "c"))
            type = Lower(Trim(line.substr(colon + 1).substr(0, line.find(';', colon) - colon - 1)));
    }
    body = at < part.size() ? part.substr(at) : std::string();
}

}  // namespace

std::string SdpBody(const SipMessage& message)
{
    if (message.body.empty())
        return {};
    if (message.contentType == "application/sdp" || (message.contentType.empty() && LooksLikeSdp(message.body)))
        return message.body;
    if (!StartsWithText(message.contentType, "multipart/") || message.boundary.empty())
        return {};
    // Parts between "--boundary" lines; "--boundary--" closes the body.
    const std::string delimiter = "--" + message.boundary;
    size_t at = message.body.find(delimiter);
    for (size_t parts = 0; at != std::string::npos && parts < kMaxBodyParts; ++parts) {
        size_t start = at + delimiter.size();
        if (message.body.compare(start, 2, "--") == 0)
            break;
        const size_t lineEnd = message.body.find('\n', start);
        if (lineEnd == std::string::npos)
            break;
        start = lineEnd + 1;
        const size_t next = message.body.find(delimiter, start);
        std::string part = message.body.substr(start, next == std::string::npos ? std::string::npos : next - start);
        // The line break before the next delimiter belongs to it.
        if (!part.empty() && part.back() == '\n')
            part.pop_back();
        if (!part.empty() && part.back() == '\r')
            part.pop_back();
        std::string type, body;
        SplitPart(part, type, body);
        if (type == "application/sdp")
            return body;
        at = next;
    }
    return {};
}

}  // namespace mervox::media::signalling
