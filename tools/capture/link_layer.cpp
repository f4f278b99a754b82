#include "link_layer.h"

namespace mervox::capture {
namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86dd;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88a8;
constexpr uint16_t kEtherVlanOld = 0x9100;

LinkResult ByEtherType(uint16_t type, ByteView payload, ByteView& ip)
{
    if (type != kEtherIpv4 && type != kEtherIpv6)
        return LinkResult::kNotIp;
    ip = payload;
    return LinkResult::kIp;
}

LinkResult Ethernet(ByteView frame, ByteView& ip)
{
    if (!frame.Has(0, 14))
        return LinkResult::kTruncated;
    size_t offset = 12;
    uint16_t type = frame.U16(offset);
    // Stacked VLAN tags: each adds 4 bytes before the real EtherType.
    for (int tags = 0; tags < 4 && (type == kEtherVlan || type == kEtherQinQ || type == kEtherVlanOld); ++tags) {
        offset += 4;
        if (!frame.Has(offset, 2))
            return LinkResult::kTruncated;
        type = frame.U16(offset);
    }
    return ByEtherType(type, frame.From(offset + 2), ip);
}

// Raw IP: the version nibble tells IPv4 from IPv6.
LinkResult RawIp(ByteView frame, ByteView& ip)
{
    if (!frame.Has(0, 1))
        return LinkResult::kTruncated;
    const int version = frame.U8(0) >> 4;
    if (version != 4 && version != 6)
        return LinkResult::kNotIp;
    ip = frame;
    return LinkResult::kIp;
}

// BSD loopback: a 4-byte address family, in the capturing host's byte order
// for null, in network byte order for loop. IPv6 has a different number on
// every BSD, so the version nibble decides.
LinkResult Loopback(ByteView frame, ByteView& ip)
{
    if (!frame.Has(0, 4))
        return LinkResult::kTruncated;
    const uint32_t big = frame.U32(0);
    const uint32_t little = (big >> 24) | ((big >> 8) & 0xff00) | ((big << 8) & 0xff0000) | (big << 24);
    const uint32_t family = big < little ? big : little;
    const bool known = family == 2 || family == 10 || family == 24 || family == 28 || family == 30;
    if (!known)
        return LinkResult::kNotIp;
    return RawIp(frame.From(4), ip);
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

LinkResult ExtractIp(int linkType, ByteView frame, ByteView& ip)
{
    switch (linkType) {
    case kLinkEthernet:
        return Ethernet(frame, ip);
    case kLinkLinuxSll:  // 16-byte header, protocol in the last two bytes
        if (!frame.Has(0, 16))
            return LinkResult::kTruncated;
        return ByEtherType(frame.U16(14), frame.From(16), ip);
    case kLinkLinuxSll2:  // 20-byte header, protocol first
        if (!frame.Has(0, 20))
            return LinkResult::kTruncated;
        return ByEtherType(frame.U16(0), frame.From(20), ip);
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

}  // namespace mervox::capture
