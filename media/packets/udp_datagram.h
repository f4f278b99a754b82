// Pulls the UDP datagram out of an IPv4 or IPv6 packet.
#pragma once

#include <cstdint>

#include "net/byte_view.h"
#include "net/endpoint.h"

namespace mervox::media::packets {

enum class UdpResult {
    kUdp,        // `payload` is the UDP payload
    kNotUdp,     // another transport (TCP, ICMP, ESP, ...): see UdpDatagram::protocol
    kFragment,   // a piece of a fragmented datagram: see UdpDatagram::fragment
    kTruncated,  // the capture cut the packet short
    kMalformed,  // impossible header fields
};

// IP protocol number of TCP.
constexpr uint8_t kProtoTcp = 6;

struct UdpDatagram {
    net::Endpoint source;
    net::Endpoint destination;
    net::ByteView payload;
    // With kNotUdp from an unfragmented packet: the transport's protocol
    // number, `payload` its whole segment (header included) and the
    // addresses set (ports 0); otherwise 0.
    uint8_t protocol = 0;
    // With kFragment: the piece (the addresses are set too).
    struct Piece {
        uint32_t identification = 0;
        uint8_t protocol = 0;  // the transport's (IPv6: known from the first piece only)
        size_t offset = 0;     // of `data` in the datagram's payload, in bytes
        bool more = false;     // more pieces follow this one
        net::ByteView data;
    } fragment;
};

UdpResult ParseUdp(net::ByteView ip, UdpDatagram& out);

}  // namespace mervox::media::packets
