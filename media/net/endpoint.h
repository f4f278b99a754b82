// Where a packet comes from or goes to: an IP address and a port, the
// key by which streams, calls and connections are found.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mervox::media::net {

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

}  // namespace mervox::media::net
