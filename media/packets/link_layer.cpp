#include "packets/link_layer.h"

#include "packets/udp_datagram.h"

namespace mervox::media::packets {
namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86dd;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88a8;
constexpr uint16_t kEtherVlanOld = 0x9100;

// Address families in BSD loopback headers: IPv4 is 2 everywhere, IPv6 has
// a number of its own on each system.
constexpr uint32_t kFamilyIpv4 = 2;
constexpr uint32_t kFamilyIpv6Linux = 10;
constexpr uint32_t kFamilyIpv6NetBsd = 24;  // also OpenBSD
constexpr uint32_t kFamilyIpv6FreeBsd = 28;
constexpr uint32_t kFamilyIpv6Darwin = 30;

// Link-layer header lengths, and where the protocol field sits in each.
constexpr size_t kEthernetHeader = 14;
constexpr size_t kEthernetTypeAt = 12;
constexpr size_t kVlanTag = 4;
constexpr int kMaxVlanTags = 4;
constexpr size_t kSllHeader = 16;
constexpr size_t kSllProtocolAt = 14;
constexpr size_t kSll2Header = 20;
constexpr size_t kSll2ProtocolAt = 0;
constexpr size_t kLoopbackHeader = 4;

LinkResult ByEtherType(uint16_t type, net::ByteView payload, net::ByteView& ip)
{
    if (type != kEtherIpv4 && type != kEtherIpv6)
        return LinkResult::kNotIp;
    ip = payload;
    return LinkResult::kIp;
}

LinkResult Ethernet(net::ByteView frame, net::ByteView& ip)
{
    if (!frame.Has(0, kEthernetHeader))
        return LinkResult::kTruncated;
    size_t offset = kEthernetTypeAt;
    uint16_t type = frame.U16(offset);
    // Stacked VLAN tags: each adds 4 bytes before the real EtherType.
    for (int tags = 0; tags < kMaxVlanTags && (type == kEtherVlan || type == kEtherQinQ || type == kEtherVlanOld);
         ++tags) {
        offset += kVlanTag;
        if (!frame.Has(offset, 2))
            return LinkResult::kTruncated;
        type = frame.U16(offset);
    }
    return ByEtherType(type, frame.From(offset + 2), ip);
}

// Raw IP: the version nibble tells IPv4 from IPv6.
LinkResult RawIp(net::ByteView frame, net::ByteView& ip)
{
    if (!frame.Has(0, 1))
        return LinkResult::kTruncated;
    const int version = frame.U8(0) >> 4;
    if (version != net::kIpv4 && version != net::kIpv6)
        return LinkResult::kNotIp;
    ip = frame;
    return LinkResult::kIp;
}

// BSD loopback: a 4-byte address family, in the capturing host's byte order
// for null, in network byte order for loop. IPv6 has a different number on
// every BSD, so the version nibble decides.
LinkResult Loopback(net::ByteView frame, net::ByteView& ip)
{
    if (!frame.Has(0, kLoopbackHeader))
        return LinkResult::kTruncated;
    const uint32_t big = frame.U32(0);
    const uint32_t little = (big >> 24) | ((big >> 8) & 0xff00) | ((big << 8) & 0xff0000) | (big << 24);
    const uint32_t family = big < little ? big : little;
    const bool known = family == kFamilyIpv4 || family == kFamilyIpv6Linux || family == kFamilyIpv6NetBsd ||
                       family == kFamilyIpv6FreeBsd || family == kFamilyIpv6Darwin;
    if (!known)
        return LinkResult::kNotIp;
    return RawIp(frame.From(kLoopbackHeader), ip);
}

}  // namespace

bool IsSupportedLinkType(int linkType)
{
    switch (linkType) {
    case kLinkNull:
    case kLinkEthernet:
    case kLinkRawBsd:
    case kLinkRawOpenBsd:
    case kLinkRaw:
    case kLinkLoop:
    case kLinkLinuxSll:
    case kLinkIpv4:
    case kLinkIpv6:
    case kLinkLinuxSll2:
        return true;
    default:
        return false;
    }
}

LinkResult ExtractIp(int linkType, net::ByteView frame, net::ByteView& ip)
{
    switch (linkType) {
    case kLinkEthernet:
        return Ethernet(frame, ip);
    case kLinkLinuxSll:
        if (!frame.Has(0, kSllHeader))
            return LinkResult::kTruncated;
        return ByEtherType(frame.U16(kSllProtocolAt), frame.From(kSllHeader), ip);
    case kLinkLinuxSll2:
        if (!frame.Has(0, kSll2Header))
            return LinkResult::kTruncated;
        return ByEtherType(frame.U16(kSll2ProtocolAt), frame.From(kSll2Header), ip);
    case kLinkRawBsd:
    case kLinkRawOpenBsd:
    case kLinkRaw:
    case kLinkIpv4:
    case kLinkIpv6:
        return RawIp(frame, ip);
    case kLinkNull:
    case kLinkLoop:
        return Loopback(frame, ip);
    default:
        return LinkResult::kUnsupported;
    }
}

}  // namespace mervox::media::packets
