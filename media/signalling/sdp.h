// The parts of an SDP body (session description) that place a call's media:
// each audio stream's connection address (c=, IPv4 or IPv6) and port
// (m=audio), its payload types and their encodings (a=rtpmap), its
// direction (a=sendrecv/sendonly/recvonly/inactive), and whether it is
// encrypted (RTP/SAVP and other secure profiles, a=crypto).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/endpoint.h"

namespace mervox::media::signalling {

using net::Endpoint;

// Media lines read per description; the rest are skipped and counted.
constexpr size_t kMaxSdpMedia = 16;
// Payload types kept per media line.
constexpr size_t kMaxPayloadTypes = 32;

enum class MediaDirection { kSendReceive, kSendOnly, kReceiveOnly, kInactive };
const char* MediaDirectionName(MediaDirection d);

// What a payload type carries.
enum class PayloadKind { kUnknown, kG7231, kTelephoneEvent, kComfortNoise, kOther };

struct PayloadMapping {
    int payloadType = 0;
    std::string encoding;  // "G723/8000" as written (bounded), or "" for a static type without a=rtpmap
    PayloadKind kind = PayloadKind::kUnknown;
};

struct SdpMedia {
    bool haveAddress = false;  // a c= line applies (session or media level)
    Endpoint endpoint;         // its address and the m= port
    std::string protocol;      // "RTP/AVP", "RTP/SAVP", ...
    std::vector<PayloadMapping> payloads;
    MediaDirection direction = MediaDirection::kSendReceive;
    bool encrypted = false;
    // The kind of payload type `pt` on this media (kUnknown: not listed).
    PayloadKind KindOf(int pt) const;
};

struct SessionDescription {
    std::vector<SdpMedia> audio;  // the audio media lines, in order
    uint32_t skippedMedia = 0;    // beyond kMaxSdpMedia
    uint32_t malformedLines = 0;  // lines that are not "x=value", or values that cannot be read
};

// Reads an SDP body; nothing in it is fatal.
SessionDescription ParseSdp(const std::string& body);

}  // namespace mervox::media::signalling
