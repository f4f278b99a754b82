// Finds the IP packet inside a captured frame for the link types a VoIP
// capture is likely to have: Ethernet (with VLAN tags), Linux cooked
// captures (SLL and SLL2), raw IP, and BSD loopback (null/loop).
#pragma once

#include "net/byte_view.h"

namespace mervox::media::packets {

enum class LinkResult {
    kIp,           // `ip` holds an IPv4 or IPv6 packet
    kNotIp,        // another network protocol (ARP, ...)
    kTruncated,    // the link header itself is cut short
    kUnsupported,  // a link type this reader does not decode
};

// DLT values as libpcap reports them (pcap_datalink).
constexpr int kLinkNull = 0;
constexpr int kLinkEthernet = 1;
constexpr int kLinkRawBsd = 12;      // DLT_RAW on most systems
constexpr int kLinkRawOpenBsd = 14;  // DLT_RAW on OpenBSD
constexpr int kLinkRaw = 101;        // LINKTYPE_RAW as stored in files
constexpr int kLinkLoop = 108;
constexpr int kLinkLinuxSll = 113;
constexpr int kLinkIpv4 = 228;
constexpr int kLinkIpv6 = 229;
constexpr int kLinkLinuxSll2 = 276;

// True for the link types ExtractIp understands.
bool IsSupportedLinkType(int linkType);

LinkResult ExtractIp(int linkType, net::ByteView frame, net::ByteView& ip);

}  // namespace mervox::media::packets
