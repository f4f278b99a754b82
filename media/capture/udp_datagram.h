// Pulls the UDP datagram out of an IPv4 or IPv6 packet.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "byte_view.h"

namespace mervox::capture {

// The version field of an IP header (its first four bits).
constexpr int kIpv4 = 4;
constexpr int kIpv6 = 6;

// An IP address (IPv4 in the first 4 bytes) and a UDP port.
struct Endpoint {
    int ipVersion = kIpv4;
    std::array<uint8_t, 16> address{};
    uint16_t port = 0;

    bool operator==(const Endpoint& o) const
    {
        return ipVersion == o.ipVersion && address == o.address && port == o.port;
    }
    bool operator<(const Endpoint& o) const
    {
        if (ipVersion != o.ipVersion)
            return ipVersion < o.ipVersion;
        if (address != o.address)
            return address < o.address;
        return port < o.port;
    }
};

// "192.0.2.1" or "2001:db8::1" (the address only).
std::string AddressText(const Endpoint& e);
// "192.0.2.1:5004" or "[2001:db8::1]:5004".
std::string EndpointText(const Endpoint& e);

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
    Endpoint source;
    Endpoint destination;
    ByteView payload;
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
        ByteView data;
    } fragment;
};

UdpResult ParseUdp(ByteView ip, UdpDatagram& out);

}  // namespace mervox::capture
