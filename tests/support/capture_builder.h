// Builds small captures byte by byte for the corner cases: RTP packets,
// UDP over IPv4 or IPv6, link-layer headers, and classic pcap files.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace mervox::media::capture::test {

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
// An RTP packet with the header fields that most tests vary.
Bytes RtpPacket(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, int payloadType, const Bytes& payload);

// The bytes of a text (a SIP message).
Bytes Text(const std::string& s);
// A SIP message: start line, headers, and the body with its Content-Length
// (unless `length` names another one).
std::string SipMessage(const std::string& startLine, const std::vector<std::string>& headers,
                       const std::string& body = "", const std::string& length = "");

// IPv4 header (no options) + UDP header + payload.
Bytes Ipv4Udp(const std::string& source, uint16_t sourcePort, const std::string& destination, uint16_t destinationPort,
              const Bytes& payload);
// IPv6 header, optionally a hop-by-hop options header, UDP header + payload.
Bytes Ipv6Udp(const std::string& source, uint16_t sourcePort, const std::string& destination, uint16_t destinationPort,
              const Bytes& payload, bool hopByHop = false);

// Pieces of a fragmented datagram, from an unfragmented packet as Ipv4Udp
// or Ipv6Udp (without hop-by-hop options) make it: each range [first,
// second) of its IP payload (offsets multiples of 8) in a packet of its own,
// as identification `id`; the piece that ends the payload is the last.
Bytes IpFragment(const Bytes& packet, uint32_t id, size_t first, size_t second);

// IPv4 header + TCP header (20 bytes, ACK set, and PSH with data) + payload.
Bytes Ipv4Tcp(const std::string& source, uint16_t sourcePort, const std::string& destination, uint16_t destinationPort,
              uint32_t sequence, const Bytes& payload);

// Ethernet header in front of an IP packet (EtherType from its version),
// with an 802.1Q tag if vlan is nonzero.
Bytes Ethernet(const Bytes& ip, uint16_t vlan = 0);

// Classic pcap file bytes (little-endian, microseconds).
class PcapWriter {
public:
    explicit PcapWriter(int linkType = 1);
    // originalLength 0: the whole packet was captured. Records are 1/33 s
    // apart, from 1700000000 s.
    void Add(const Bytes& packet, uint32_t originalLength = 0);
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
    uint32_t records_ = 0;
};

// A classic pcap capture whose records are given with their capture times
// (seconds from 1700000000), in any order: written in time order, records
// of the same time in the order given.
class TimedCapture {
public:
    void Add(double seconds, const Bytes& packet) { records_.emplace_back(seconds, packet); }
    Bytes bytes() const;

private:
    std::vector<std::pair<double, Bytes>> records_;
};

// The pieces of a classic pcap file, for captures written as they are made.
Bytes PcapFileHeader(int linkType);
Bytes PcapRecord(const Bytes& packet, uint32_t seconds, uint32_t microseconds);

// pcapng file bytes: sections in either byte order, interfaces with their
// own link types, enhanced packet blocks.
class PcapngWriter {
public:
    PcapngWriter() { Section(false); }
    // Starts a new section (its interfaces count from 0 again).
    void Section(bool bigEndian);
    // Returns the interface's number. tsresol: the if_tsresol option byte
    // (6 = microseconds, 9 = nanoseconds); 0 leaves it out. name: if_name,
    // left out when empty.
    uint32_t Interface(uint16_t linkType, uint8_t tsresol = 0, const std::string& name = "");
    // `units` in the interface's timestamp resolution.
    void Add(uint32_t interface, const Bytes& packet, uint64_t units);
    // An interface statistics block at `units`: 64-bit options by code
    // (4 isb_ifrecv, 5 isb_ifdrop, 6 isb_filteraccept, 7 isb_osdrop, 8 isb_usrdeliv).
    void Statistics(uint32_t interface, uint64_t units, const std::vector<std::pair<uint16_t, uint64_t>>& options);
    const Bytes& bytes() const { return bytes_; }

private:
    void Block(uint32_t type, const Bytes& body);
    void Put16(Bytes& b, uint16_t v) const;
    void Put32(Bytes& b, uint32_t v) const;
    Bytes bytes_;
    bool bigEndian_ = false;
    uint32_t interfaces_ = 0;  // in the current section
};

// Frames of a corpus stream file, one per element.
std::vector<Bytes> StreamFrames(const std::string& corpusFile);

// Many streams one after the other, for the limits a capture of many
// streams meets: stream k has SSRC firstSsrc + k and addresses of its own,
// and `packets` packets of one 6.3 kbit/s frame of speech-a.63.bit each, in
// order, their timestamps `stepFrames` frames apart (1: no gap). Appended
// to `capture` (classic pcap bytes, Ethernet) as records `stepMicros`
// apart, from capture time `micros` (advanced).
struct StreamSeries {
    uint32_t firstSsrc = 0x1000;
    size_t streams = 1;
    size_t packets = 3;
    uint32_t stepFrames = 1;
    uint32_t stepMicros = 30000;
};
void AppendStreams(Bytes& capture, uint64_t& micros, const StreamSeries& series);

}  // namespace mervox::media::capture::test
