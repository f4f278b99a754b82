#include "capture_builder.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>

#include "test_support.h"

namespace mervox::media::capture::test {
namespace {

void Put16(Bytes& b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

void Put32(Bytes& b, uint32_t v)
{
    Put16(b, static_cast<uint16_t>(v >> 16));
    Put16(b, static_cast<uint16_t>(v));
}

void PutLe32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes Udp(uint16_t sourcePort, uint16_t destinationPort, const Bytes& payload)
{
    Bytes b;
    Put16(b, sourcePort);
    Put16(b, destinationPort);
    Put16(b, static_cast<uint16_t>(8 + payload.size()));
    Put16(b, 0);  // no checksum
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

void PutAddress(Bytes& b, int family, const std::string& text)
{
    uint8_t raw[16] = {};
    inet_pton(family, text.c_str(), raw);
    b.insert(b.end(), raw, raw + (family == AF_INET ? 4 : 16));
}

}  // namespace

Bytes RtpBytes(const Rtp& h, const Bytes& payload)
{
    Bytes b;
    b.push_back(static_cast<uint8_t>(0x80 | (h.padding ? 0x20 : 0) | (h.extension.empty() ? 0 : 0x10) |
                                     (h.csrcs.size() & 0x0f)));
    b.push_back(static_cast<uint8_t>((h.marker ? 0x80 : 0) | (h.payloadType & 0x7f)));
    Put16(b, h.sequence);
    Put32(b, h.timestamp);
    Put32(b, h.ssrc);
    for (uint32_t c : h.csrcs)
        Put32(b, c);
    if (!h.extension.empty()) {
        Put16(b, 0xbede);
        Put16(b, static_cast<uint16_t>(h.extension.size() / 4));
        b.insert(b.end(), h.extension.begin(), h.extension.end());
    }
    b.insert(b.end(), payload.begin(), payload.end());
    if (h.padding) {
        b.insert(b.end(), h.padding - 1u, 0);
        b.push_back(h.padding);
    }
    return b;
}

Bytes Ipv4Udp(const std::string& source, uint16_t sourcePort, const std::string& destination, uint16_t destinationPort,
              const Bytes& payload)
{
    const Bytes udp = Udp(sourcePort, destinationPort, payload);
    Bytes b = {0x45, 0};
    Put16(b, static_cast<uint16_t>(20 + udp.size()));
    Put32(b, 0x00004000);  // identification 0, don't fragment
    b.push_back(64);       // TTL
    b.push_back(17);       // UDP
    Put16(b, 0);           // checksum (not checked)
    PutAddress(b, AF_INET, source);
    PutAddress(b, AF_INET, destination);
    b.insert(b.end(), udp.begin(), udp.end());
    return b;
}

Bytes Ipv4Tcp(const std::string& source, uint16_t sourcePort, const std::string& destination, uint16_t destinationPort,
              uint32_t sequence, const Bytes& payload)
{
    Bytes tcp;
    Put16(tcp, sourcePort);
    Put16(tcp, destinationPort);
    Put32(tcp, sequence);
    Put32(tcp, 0);                                 // acknowledgement number
    tcp.push_back(5 << 4);                         // 20-byte header
    tcp.push_back(payload.empty() ? 0x10 : 0x18);  // ACK, PSH
    Put16(tcp, 65535);                             // window
    Put32(tcp, 0);                                 // checksum (not checked), urgent pointer
    tcp.insert(tcp.end(), payload.begin(), payload.end());
    Bytes b = {0x45, 0};
    Put16(b, static_cast<uint16_t>(20 + tcp.size()));
    Put32(b, 0x00004000);
    b.push_back(64);
    b.push_back(6);  // TCP
    Put16(b, 0);
    PutAddress(b, AF_INET, source);
    PutAddress(b, AF_INET, destination);
    b.insert(b.end(), tcp.begin(), tcp.end());
    return b;
}

Bytes Ipv6Udp(const std::string& source, uint16_t sourcePort, const std::string& destination, uint16_t destinationPort,
              const Bytes& payload, bool hopByHop)
{
    Bytes next = Udp(sourcePort, destinationPort, payload);
    if (hopByHop) {
        Bytes options = {17, 0, 1, 4, 0, 0, 0, 0};  // next: UDP; 8 bytes; PadN
        options.insert(options.end(), next.begin(), next.end());
        next = options;
    }
    Bytes b;
    Put32(b, 0x60000000);
    Put16(b, static_cast<uint16_t>(next.size()));
    b.push_back(hopByHop ? 0 : 17);
    b.push_back(64);
    PutAddress(b, AF_INET6, source);
    PutAddress(b, AF_INET6, destination);
    b.insert(b.end(), next.begin(), next.end());
    return b;
}

Bytes IpFragment(const Bytes& packet, uint32_t id, size_t first, size_t second)
{
    const bool v6 = (packet.at(0) >> 4) == 6;
    const size_t header = v6 ? 40 : 20;
    const size_t payload = packet.size() - header;
    const bool more = second < payload;
    const auto begin = packet.begin() + static_cast<std::ptrdiff_t>(header + first);
    const auto end = packet.begin() + static_cast<std::ptrdiff_t>(header + second);
    Bytes b(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(header));
    if (v6) {
        b[4] = static_cast<uint8_t>((second - first + 8) >> 8);
        b[5] = static_cast<uint8_t>(second - first + 8);
        const uint8_t next = b[6];
        b[6] = 44;  // Fragment header
        b.push_back(next);
        b.push_back(0);
        Put16(b, static_cast<uint16_t>(first | (more ? 1 : 0)));
        Put32(b, id);
    } else {
        b[2] = static_cast<uint8_t>((second - first + 20) >> 8);
        b[3] = static_cast<uint8_t>(second - first + 20);
        b[4] = static_cast<uint8_t>(id >> 8);
        b[5] = static_cast<uint8_t>(id);
        const size_t field = first / 8 | (more ? 0x2000 : 0);
        b[6] = static_cast<uint8_t>(field >> 8);
        b[7] = static_cast<uint8_t>(field);
    }
    b.insert(b.end(), begin, end);
    return b;
}

Bytes Ethernet(const Bytes& ip, uint16_t vlan)
{
    Bytes b = {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0x66, 0x77, 0x88, 0x99, 0xaa};
    if (vlan) {
        Put16(b, 0x8100);
        Put16(b, vlan);
    }
    Put16(b, (ip.at(0) >> 4) == 6 ? 0x86dd : 0x0800);
    b.insert(b.end(), ip.begin(), ip.end());
    return b;
}

Bytes PcapFileHeader(int linkType)
{
    Bytes b;
    PutLe32(b, 0xa1b2c3d4);
    PutLe32(b, 0x00040002);  // version 2.4
    PutLe32(b, 0);           // time zone
    PutLe32(b, 0);           // accuracy
    PutLe32(b, 65535);       // snap length
    PutLe32(b, static_cast<uint32_t>(linkType));
    return b;
}

Bytes PcapRecord(const Bytes& packet, uint32_t seconds, uint32_t microseconds)
{
    Bytes b;
    PutLe32(b, seconds);
    PutLe32(b, microseconds);
    PutLe32(b, static_cast<uint32_t>(packet.size()));
    PutLe32(b, static_cast<uint32_t>(packet.size()));
    b.insert(b.end(), packet.begin(), packet.end());
    return b;
}

Bytes TimedCapture::bytes() const
{
    std::vector<size_t> order(records_.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return records_[a].first < records_[b].first; });
    Bytes b = PcapFileHeader(1);
    for (const size_t i : order) {
        const auto micros = static_cast<uint64_t>(std::llround(records_[i].first * 1e6));
        const Bytes record = PcapRecord(records_[i].second, static_cast<uint32_t>(1700000000 + micros / 1000000),
                                        static_cast<uint32_t>(micros % 1000000));
        b.insert(b.end(), record.begin(), record.end());
    }
    return b;
}

PcapWriter::PcapWriter(int linkType) : bytes_(PcapFileHeader(linkType)) {}

void PcapWriter::Add(const Bytes& packet, uint32_t originalLength)
{
    ++records_;
    PutLe32(bytes_, 1700000000 + records_ / 33);
    PutLe32(bytes_, (records_ % 33) * 30000);
    PutLe32(bytes_, static_cast<uint32_t>(packet.size()));
    PutLe32(bytes_, originalLength ? originalLength : static_cast<uint32_t>(packet.size()));
    bytes_.insert(bytes_.end(), packet.begin(), packet.end());
}

void PcapngWriter::Put16(Bytes& b, uint16_t v) const
{
    if (bigEndian_)
        mervox::media::capture::test::Put16(b, v);
    else
        b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
}

void PcapngWriter::Put32(Bytes& b, uint32_t v) const
{
    if (bigEndian_) {
        mervox::media::capture::test::Put32(b, v);
    } else {
        Put16(b, static_cast<uint16_t>(v));
        Put16(b, static_cast<uint16_t>(v >> 16));
    }
}

void PcapngWriter::Block(uint32_t type, const Bytes& body)
{
    Bytes padded = body;
    padded.resize((body.size() + 3) / 4 * 4, 0);
    const auto length = static_cast<uint32_t>(padded.size() + 12);
    Put32(bytes_, type);
    Put32(bytes_, length);
    bytes_.insert(bytes_.end(), padded.begin(), padded.end());
    Put32(bytes_, length);
}

void PcapngWriter::Section(bool bigEndian)
{
    bigEndian_ = bigEndian;
    interfaces_ = 0;
    Bytes body;
    Put32(body, 0x1a2b3c4d);  // byte-order magic
    Put16(body, 1);           // version 1.0
    Put16(body, 0);
    Put32(body, 0xffffffff);  // section length not given
    Put32(body, 0xffffffff);
    Block(0x0a0d0d0a, body);
}

uint32_t PcapngWriter::Interface(uint16_t linkType, uint8_t tsresol, const std::string& name)
{
    Bytes body;
    Put16(body, linkType);
    Put16(body, 0);
    Put32(body, 65535);  // snap length
    if (!name.empty()) {
        Put16(body, 2);  // if_name, padded to 4 bytes
        Put16(body, static_cast<uint16_t>(name.size()));
        body.insert(body.end(), name.begin(), name.end());
        body.resize((body.size() + 3) / 4 * 4, 0);
    }
    if (tsresol) {
        Put16(body, 9);  // if_tsresol
        Put16(body, 1);
        body.insert(body.end(), {tsresol, 0, 0, 0});
    }
    if (tsresol || !name.empty()) {
        Put16(body, 0);  // end of options
        Put16(body, 0);
    }
    Block(1, body);
    return interfaces_++;
}

void PcapngWriter::Statistics(uint32_t interface, uint64_t units,
                              const std::vector<std::pair<uint16_t, uint64_t>>& options)
{
    Bytes body;
    Put32(body, interface);
    Put32(body, static_cast<uint32_t>(units >> 32));
    Put32(body, static_cast<uint32_t>(units));
    for (const auto& [code, value] : options) {
        Put16(body, code);
        Put16(body, 8);
        // A 64-bit value in the section's byte order.
        if (bigEndian_) {
            Put32(body, static_cast<uint32_t>(value >> 32));
            Put32(body, static_cast<uint32_t>(value));
        } else {
            Put32(body, static_cast<uint32_t>(value));
            Put32(body, static_cast<uint32_t>(value >> 32));
        }
    }
    Put16(body, 0);  // end of options
    Put16(body, 0);
    Block(5, body);
}

void PcapngWriter::Add(uint32_t interface, const Bytes& packet, uint64_t units)
{
    Bytes body;
    Put32(body, interface);
    Put32(body, static_cast<uint32_t>(units >> 32));
    Put32(body, static_cast<uint32_t>(units));
    Put32(body, static_cast<uint32_t>(packet.size()));
    Put32(body, static_cast<uint32_t>(packet.size()));
    body.insert(body.end(), packet.begin(), packet.end());
    Block(6, body);
}

std::vector<Bytes> StreamFrames(const std::string& corpusFile)
{
    const Bytes stream = mervox::test::ReadFileBytes(mervox::test::DataPath("corpus/" + corpusFile));
    std::vector<Bytes> frames;
    for (const auto& f : mervox::test::SplitStream(stream))
        frames.emplace_back(stream.begin() + static_cast<long>(f.offset),
                            stream.begin() + static_cast<long>(f.offset + f.length));
    return frames;
}

void AppendStreams(Bytes& capture, uint64_t& micros, const StreamSeries& series)
{
    static const std::vector<Bytes> frames = StreamFrames("speech-a.63.bit");
    for (size_t k = 0; k < series.streams; ++k) {
        const auto n = static_cast<uint32_t>(k);
        const std::string source =
            "10." + std::to_string(n >> 16 & 255) + "." + std::to_string(n >> 8 & 255) + "." + std::to_string(n & 255);
        for (size_t p = 0; p < series.packets; ++p) {
            Rtp h;
            h.ssrc = series.firstSsrc + n;
            h.sequence = static_cast<uint16_t>(p);
            h.timestamp = static_cast<uint32_t>(p) * series.stepFrames * 240;
            const Bytes packet =
                Ethernet(Ipv4Udp(source, 5004, "10.255.0.1", 6004, RtpBytes(h, frames[p % frames.size()])));
            micros += series.stepMicros;
            const Bytes record =
                PcapRecord(packet, static_cast<uint32_t>(micros / 1000000), static_cast<uint32_t>(micros % 1000000));
            capture.insert(capture.end(), record.begin(), record.end());
        }
    }
}

Bytes RtpPacket(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, int payloadType, const Bytes& payload)
{
    Rtp h;
    h.ssrc = ssrc;
    h.sequence = sequence;
    h.timestamp = timestamp;
    h.payloadType = payloadType;
    return RtpBytes(h, payload);
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string SipMessage(const std::string& startLine, const std::vector<std::string>& headers, const std::string& body,
                       const std::string& length)
{
    std::string m = startLine + "\r\n";
    for (const std::string& h : headers)
        m += h + "\r\n";
    return m + "Content-Length: " + (length.empty() ? std::to_string(body.size()) : length) + "\r\n\r\n" + body;
}

}  // namespace mervox::media::capture::test
