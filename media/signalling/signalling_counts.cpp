#include "signalling/signalling_counts.h"

namespace mervox::media::signalling {

const char* SipProblemName(SipProblem problem)
{
    switch (problem) {
    case SipProblem::kMalformedMessage:
        return "malformed_sip";
    case SipProblem::kMalformedLines:
        return "malformed_header_lines";
    case SipProblem::kLongFields:
        return "long_fields_cut";
    case SipProblem::kLengthPastEnd:
        return "content_length_past_end";
    case SipProblem::kTooLarge:
        return "oversized_sip";
    case SipProblem::kWithoutCallId:
        return "without_call_id";
    case SipProblem::kMalformedSdpLines:
        return "malformed_sdp_lines";
    case SipProblem::kSdpMediaLimit:
        return "sdp_media_beyond_limit";
    case SipProblem::kDialogLimit:
        return "calls_beyond_limit";
    case SipProblem::kDialogsEvicted:
        return "dialogs_closed_early";
    case SipProblem::kTcpGaps:
        return "tcp_gaps";
    case SipProblem::kTcpRetransmissions:
        return "tcp_retransmissions";
    case SipProblem::kTcpOutOfWindow:
        return "tcp_out_of_window";
    case SipProblem::kTcpEvicted:
        return "tcp_evicted";
    case SipProblem::kCount:
        break;
    }
    return "unknown";
}

}  // namespace mervox::media::signalling
