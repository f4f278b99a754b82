#include "signalling/sdp.h"

#ifdef _WIN32
#include <ws2tcpip.h>  // inet_pton, inet_ntop
#else
#include <arpa/inet.h>
#endif

#include <sstream>

#include "signalling/sip_text.h"

namespace mervox::media::signalling {
namespace {

PayloadKind KindOfEncoding(const std::string& encoding)
{
    const std::string name = Lower(encoding.substr(0, encoding.find('/')));
    if (name == "g723")
        return PayloadKind::kG7231;
    if (name == "telephone-event")
        return PayloadKind::kTelephoneEvent;
    if (name == "cn")
        return PayloadKind::kComfortNoise;
    return PayloadKind::kOther;
}

// The static payload types a call of ours meets without a=rtpmap.
PayloadKind StaticKind(int pt)
{
    if (pt == 4)
        return PayloadKind::kG7231;
    if (pt == 13)
        return PayloadKind::kComfortNoise;
    return pt < 96 ? PayloadKind::kOther : PayloadKind::kUnknown;
}

bool ParseAddress(const std::string& value, Endpoint& e)
{
    // "IN IP4 192.0.2.1" or "IN IP6 2001:db8::1" (a multicast TTL after '/' ignored).
    std::istringstream in(value);
    std::string network, type, address;
    in >> network >> type >> address;
    address = address.substr(0, address.find('/'));
    if (!SameText(network, "IN"))
        return false;
    if (SameText(type, "IP4")) {
        e.ipVersion = net::kIpv4;
        e.address = {};
        return inet_pton(AF_INET, address.c_str(), e.address.data()) == 1;
    }
    if (SameText(type, "IP6")) {
        e.ipVersion = net::kIpv6;
        return inet_pton(AF_INET6, address.c_str(), e.address.data()) == 1;
    }
    return false;
}

bool IsSecureProfile(const std::string& protocol)
{
    const std::string p = Lower(protocol);
    return p.find("savp") != std::string::npos || p.find("tls") != std::string::npos ||
           p.find("dtls") != std::string::npos;
}

}  // namespace

const char* MediaDirectionName(MediaDirection d)
{
    switch (d) {
    case MediaDirection::kSendOnly:
        return "sendonly";
    case MediaDirection::kReceiveOnly:
        return "recvonly";
    case MediaDirection::kInactive:
        return "inactive";
    case MediaDirection::kSendReceive:
        break;
    }
    return "sendrecv";
}

PayloadKind SdpMedia::KindOf(int pt) const
{
    for (const PayloadMapping& p : payloads)
        if (p.payloadType == pt)
            return p.kind;
    return PayloadKind::kUnknown;
}

SessionDescription ParseSdp(const std::string& body)
{
    SessionDescription sdp;
    bool haveSessionAddress = false;
    Endpoint sessionAddress;
    MediaDirection sessionDirection = MediaDirection::kSendReceive;
    bool sessionCrypto = false;
    // The media line being read: not audio, or beyond the limit, are passed over.
    SdpMedia* media = nullptr;
    bool inMedia = false;
    size_t mediaLines = 0;

    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line.size() < 2 || line[1] != '=') {
            ++sdp.malformedLines;
            continue;
        }
        const char type = line[0];
        const std::string value = Trim(line.substr(2));
        if (type == 'm') {
            inMedia = true;
            media = nullptr;
            if (++mediaLines > kMaxSdpMedia) {
                ++sdp.skippedMedia;
                continue;
            }
            std::istringstream fields(value);
            std::string kind, port, protocol;
            fields >> kind >> port >> protocol;
            size_t portNumber = 0;
            if (!ParseCount(port.substr(0, port.find('/')), portNumber) || portNumber > 65535) {
                ++sdp.malformedLines;
                continue;
            }
            if (!SameText(kind, "audio"))
                continue;
            SdpMedia m;
            m.endpoint = sessionAddress;
            m.haveAddress = haveSessionAddress;
            m.endpoint.port = static_cast<uint16_t>(portNumber);
            m.protocol = Bounded(protocol);
            m.encrypted = IsSecureProfile(protocol) || sessionCrypto;
            m.direction = sessionDirection;
            std::string format;
            while (fields >> format && m.payloads.size() < kMaxPayloadTypes) {
                size_t pt = 0;
                if (ParseCount(format, pt) && pt < 128)
                    m.payloads.push_back({static_cast<int>(pt), "", StaticKind(static_cast<int>(pt))});
            }
            sdp.audio.push_back(std::move(m));
            media = &sdp.audio.back();
            continue;
        }
        if (inMedia && !media)
            continue;  // a line of media passed over
        if (type == 'c') {
            Endpoint e;
            if (!ParseAddress(value, e)) {
                ++sdp.malformedLines;
            } else if (media) {
                e.port = media->endpoint.port;
                media->endpoint = e;
                media->haveAddress = true;
            } else {
                sessionAddress = e;
                haveSessionAddress = true;
            }
        } else if (type == 'a') {
            const size_t colon = value.find(':');
            const std::string name = Lower(value.substr(0, colon));
            const std::string rest = colon == std::string::npos ? std::string() : value.substr(colon + 1);
            MediaDirection direction;
            bool isDirection = true;
            if (name == "sendrecv")
                direction = MediaDirection::kSendReceive;
            else if (name == "sendonly")
                direction = MediaDirection::kSendOnly;
            else if (name == "recvonly")
                direction = MediaDirection::kReceiveOnly;
            else if (name == "inactive")
                direction = MediaDirection::kInactive;
            else
                isDirection = false;
            if (isDirection) {
                (media ? media->direction : sessionDirection) = direction;
            } else if (name == "crypto" || name == "fingerprint") {
                if (media)
                    media->encrypted = true;
                else
                    sessionCrypto = true;
            } else if (name == "rtpmap" && media) {
                const size_t space = rest.find(' ');
                size_t pt = 0;
                if (space == std::string::npos || !ParseCount(rest.substr(0, space), pt) || pt > 127) {
                    ++sdp.malformedLines;
                    continue;
                }
                const std::string encoding = Bounded(Trim(rest.substr(space + 1)));
                for (PayloadMapping& p : media->payloads)
                    if (p.payloadType == static_cast<int>(pt)) {
                        p.encoding = encoding;
                        p.kind = KindOfEncoding(encoding);
                    }
            }
        }
    }
    return sdp;
}

}  // namespace mervox::media::signalling
