#include "packets/udp_datagram.h"

#include <cstring>

namespace mervox::media::packets {
namespace {

// IP protocol numbers (IPv4 protocol field, IPv6 next header).
constexpr uint8_t kProtoHopByHop = 0;
constexpr uint8_t kProtoUdp = 17;
constexpr uint8_t kProtoRouting = 43;
constexpr uint8_t kProtoFragment = 44;
constexpr uint8_t kProtoAuthentication = 51;
constexpr uint8_t kProtoDestinationOptions = 60;

constexpr size_t kUdpHeader = 8;
constexpr size_t kIpv4MinHeader = 20;
constexpr size_t kIpv6Header = 40;
constexpr uint16_t kIpv4MoreFragments = 0x2000;
constexpr uint16_t kIpv4FragmentOffset = 0x1fff;

// UDP header inside an IP payload of `available` bytes (the IP header's own
// length field already applied).
UdpResult Udp(net::ByteView segment, UdpDatagram& out)
{
    if (!segment.Has(0, kUdpHeader))
        return UdpResult::kTruncated;
    out.source.port = segment.U16(0);
    out.destination.port = segment.U16(2);
    const uint16_t length = segment.U16(4);
    if (length < kUdpHeader)
        return UdpResult::kMalformed;
    if (length > segment.size)
        return UdpResult::kTruncated;
    out.payload = net::ByteView{segment.data + kUdpHeader, static_cast<size_t>(length) - kUdpHeader};
    return UdpResult::kUdp;
}

// Another transport's segment and the packet's addresses.
void OtherTransport(uint8_t protocol, const uint8_t* source, const uint8_t* destination, size_t length, int version,
                    net::ByteView segment, UdpDatagram& out)
{
    out.protocol = protocol;
    out.source = net::Endpoint{};
    out.destination = net::Endpoint{};
    out.source.ipVersion = out.destination.ipVersion = version;
    std::memcpy(out.source.address.data(), source, length);
    std::memcpy(out.destination.address.data(), destination, length);
    out.payload = segment;
}

UdpResult Ipv4(net::ByteView ip, UdpDatagram& out)
{
    if (!ip.Has(0, kIpv4MinHeader))
        return UdpResult::kTruncated;
    const size_t headerLength = (ip.U8(0) & 0x0f) * 4u;
    const size_t totalLength = ip.U16(2);
    if (headerLength < kIpv4MinHeader || totalLength < headerLength)
        return UdpResult::kMalformed;
    if (!ip.Has(0, headerLength))
        return UdpResult::kTruncated;
    const uint16_t fragment = ip.U16(6);
    const bool moreFragments = (fragment & kIpv4MoreFragments) != 0;
    const bool laterPiece = (fragment & kIpv4FragmentOffset) != 0;
    out.protocol = 0;
    if (ip.U8(9) != kProtoUdp) {
        if (!moreFragments && !laterPiece && totalLength <= ip.size)
            OtherTransport(ip.U8(9), ip.data + 12, ip.data + 16, 4, net::kIpv4,
                           ip.Prefix(totalLength).From(headerLength), out);
        return UdpResult::kNotUdp;
    }
    out.source.ipVersion = out.destination.ipVersion = net::kIpv4;
    out.source.address = {};
    out.destination.address = {};
    std::memcpy(out.source.address.data(), ip.data + 12, 4);
    std::memcpy(out.destination.address.data(), ip.data + 16, 4);
    // Ethernet pads short frames: the IP length, not the capture, ends the packet.
    if (totalLength > ip.size)
        return UdpResult::kTruncated;
    if (moreFragments || laterPiece) {
        out.fragment.identification = ip.U16(4);
        out.fragment.protocol = kProtoUdp;
        out.fragment.offset = (fragment & kIpv4FragmentOffset) * 8u;
        out.fragment.more = moreFragments;
        out.fragment.data = ip.Prefix(totalLength).From(headerLength);
        return UdpResult::kFragment;
    }
    return Udp(ip.Prefix(totalLength).From(headerLength), out);
}

UdpResult Ipv6(net::ByteView ip, UdpDatagram& out)
{
    out.protocol = 0;
    if (!ip.Has(0, kIpv6Header))
        return UdpResult::kTruncated;
    const size_t payloadLength = ip.U16(4);
    out.source.ipVersion = out.destination.ipVersion = net::kIpv6;
    std::memcpy(out.source.address.data(), ip.data + 8, 16);
    std::memcpy(out.destination.address.data(), ip.data + 24, 16);
    if (payloadLength == 0)  // jumbogram or garbage: neither carries RTP here
        return UdpResult::kMalformed;
    if (kIpv6Header + payloadLength > ip.size)
        return UdpResult::kTruncated;
    net::ByteView rest = ip.Prefix(kIpv6Header + payloadLength).From(kIpv6Header);
    uint8_t next = ip.U8(6);
    // Extension headers come before the transport; each names the next one.
    for (int hops = 0; hops < 16; ++hops) {
        switch (next) {
        case kProtoUdp:
            return Udp(rest, out);
        case kProtoHopByHop:
        case kProtoRouting:
        case kProtoDestinationOptions: {
            if (!rest.Has(0, 2))
                return UdpResult::kTruncated;
            const size_t length = (rest.U8(1) + 1u) * 8u;
            if (!rest.Has(0, length))
                return UdpResult::kTruncated;
            next = rest.U8(0);
            rest = rest.From(length);
            break;
        }
        case kProtoAuthentication: {  // length in 4-byte units, minus 2
            if (!rest.Has(0, 2))
                return UdpResult::kTruncated;
            const size_t length = (rest.U8(1) + 2u) * 4u;
            if (!rest.Has(0, length))
                return UdpResult::kTruncated;
            next = rest.U8(0);
            rest = rest.From(length);
            break;
        }
        case kProtoFragment: {  // only an unfragmented ("atomic") one can be read
            if (!rest.Has(0, 8))
                return UdpResult::kTruncated;
            const uint16_t offsetAndFlag = rest.U16(2);
            if ((offsetAndFlag & 0xfff9) != 0) {
                out.fragment.identification = rest.U32(4);
                out.fragment.protocol = rest.U8(0);
                out.fragment.offset = offsetAndFlag & 0xfff8u;
                out.fragment.more = (offsetAndFlag & 1) != 0;
                out.fragment.data = rest.From(8);
                return UdpResult::kFragment;
            }
            next = rest.U8(0);
            rest = rest.From(8);
            break;
        }
        default:
            OtherTransport(next, ip.data + 8, ip.data + 24, 16, net::kIpv6, rest, out);
            return UdpResult::kNotUdp;
        }
    }
    return UdpResult::kMalformed;
}

}  // namespace

UdpResult ParseUdp(net::ByteView ip, UdpDatagram& out)
{
    if (!ip.Has(0, 1))
        return UdpResult::kTruncated;
    switch (ip.U8(0) >> 4) {
    case net::kIpv4:
        return Ipv4(ip, out);
    case net::kIpv6:
        return Ipv6(ip, out);
    default:
        return UdpResult::kMalformed;
    }
}

}  // namespace mervox::media::packets
