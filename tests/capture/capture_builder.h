// Builds small captures byte by byte for the corner cases: RTP packets,
// UDP over IPv4 or IPv6, link-layer headers, and classic pcap files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mervox::capture::test {

using Bytes = std::vector<uint8_t>;

struct Rtp {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0x01020304;
    int payloadType = 4;
    bool marker = false;
    std::vector<uint32_t> csrcs;
    Bytes extension;      // header extension data, a multiple of 4 bytes
    uint8_t padding = 0;  // padding bytes, the count byte included
};

Bytes RtpBytes(const Rtp& header, const Bytes& payload);

// IPv4 header (no options) + UDP header + payload.
Bytes Ipv4Udp(const std::string& source, uint16_t sourcePort, const std::string& destination, uint16_t destinationPort,
              const Bytes& payload);
// IPv6 header, optionally a hop-by-hop options header, UDP header + payload.
Bytes Ipv6Udp(const std::string& source, uint16_t sourcePort, const std::string& destination, uint16_t destinationPort,
              const Bytes& payload, bool hopByHop = false);

// Ethernet header in front of an IP packet (EtherType from its version),
// with an 802.1Q tag if vlan is nonzero.
Bytes Ethernet(const Bytes& ip, uint16_t vlan = 0);

// Classic pcap file bytes (little-endian, microseconds).
class PcapWriter {
public:
    explicit PcapWriter(int linkType = 1);
    // originalLength 0: the whole packet was captured.
    void Add(const Bytes& packet, uint32_t originalLength = 0);
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
    uint32_t records_ = 0;
};

// Frames of a corpus stream file, one per element.
std::vector<Bytes> StreamFrames(const std::string& corpusFile);

}  // namespace mervox::capture::test
