#include "capture/skip_reason.h"

namespace mervox::media::capture {

const char* SkipReasonName(SkipReason reason)
{
    switch (reason) {
    case SkipReason::kNotIp:
        return "not_ip";
    case SkipReason::kUnsupportedLink:
        return "unsupported_link_type";
    case SkipReason::kUnknownInterface:
        return "unknown_interface";
    case SkipReason::kCutShort:
        return "cut_short";
    case SkipReason::kMalformedIp:
        return "malformed_ip_or_udp";
    case SkipReason::kFragment:
        return "ip_fragments";
    case SkipReason::kNotUdp:
        return "not_udp";
    case SkipReason::kNotRtp:
        return "udp_not_rtp";
    case SkipReason::kMalformedRtp:
        return "malformed_rtp";
    case SkipReason::kOtherPayloadType:
        return "other_payload_type";
    case SkipReason::kNotG7231:
        return "not_g7231_payload";
    case SkipReason::kTooFewPackets:
        return "too_few_packets";
    case SkipReason::kEncrypted:
        return "encrypted_media";
    case SkipReason::kCount:
        break;
    }
    return "unknown";
}

}  // namespace mervox::media::capture
