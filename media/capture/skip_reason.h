// Why a capture record did not go into a G.723.1 stream: one list, each
// reason with the name reports use for it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace mervox::media::capture {

enum class SkipReason : uint8_t {
    kNotIp,             // ARP and other non-IP frames
    kUnsupportedLink,   // records of a link type not decoded
    kUnknownInterface,  // pcapng packets naming an interface the capture never described
    kCutShort,          // packets the capture cut short (snap length)
    kMalformedIp,       // impossible IP or UDP header fields
    kFragment,          // pieces of IP datagrams that never completed
    kNotUdp,            // TCP, ICMP, ...
    kNotRtp,            // UDP datagrams that are not RTP version 2
    kMalformedRtp,      // RTP whose CSRC list, extension or padding overrun the datagram
    kOtherPayloadType,  // RTP of another payload type
    kNotG7231,          // payload type matches, payload is not whole G.723.1 frames (and no stream yet)
    kTooFewPackets,     // whole frames, but too few packets with consistent sequence numbers for a stream
    kEncrypted,         // RTP to or from media its SIP/SDP describes as encrypted (SRTP): never decoded
    kCount,
};

constexpr size_t kSkipReasons = static_cast<size_t>(SkipReason::kCount);

// "not_ip", "unsupported_link_type", ...
const char* SkipReasonName(SkipReason reason);

// Counts by reason.
struct SkipCounts {
    std::array<uint64_t, kSkipReasons> counts{};
    uint64_t& operator[](SkipReason r) { return counts[static_cast<size_t>(r)]; }
    uint64_t operator[](SkipReason r) const { return counts[static_cast<size_t>(r)]; }
};

}  // namespace mervox::media::capture
