// RTP fixed header (version 2) with its optional parts: CSRC list, header
// extension and padding.
#pragma once

#include <cstdint>

#include "net/byte_view.h"

namespace mervox::media::packets {

enum class RtpResult {
    kRtp,
    kNotRtp,     // too short for an RTP header, or not version 2
    kMalformed,  // version 2, but CSRC list, extension or padding overrun the datagram
};

struct RtpPacket {
    bool marker = false;
    int payloadType = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    net::ByteView payload;  // without CSRCs, extension and padding
};

RtpResult ParseRtp(net::ByteView datagram, RtpPacket& out);

}  // namespace mervox::media::packets
