// What the SIP reader passed over, by reason: one list, each reason with
// the name reports use for it. Nothing here is fatal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace mervox::media::signalling {

enum class SipProblem : uint8_t {
    kMalformedMessage,    // a datagram or stream data that starts like SIP but cannot be read as a message
    kMalformedLines,      // header lines without a name and colon (the message is still used)
    kLongFields,          // fields cut to kMaxFieldBytes (the message is still used)
    kLengthPastEnd,       // Content-Length beyond the datagram: body left out
    kTooLarge,            // messages beyond kMaxMessageBytes, or an absurd Content-Length
    kWithoutCallId,       // messages without a Call-ID
    kMalformedSdpLines,   // SDP lines that cannot be read
    kSdpMediaLimit,       // media lines beyond kMaxSdpMedia
    kDialogLimit,         // new calls beyond kMaxDialogs
    kDialogsEvicted,      // open dialogs closed early to make room (kMaxOpenDialogs)
    kTcpGaps,             // TCP data missing or out of order: the message in progress is dropped
    kTcpRetransmissions,  // TCP data seen before
    kTcpOutOfWindow,      // TCP data further than kTcpWindowBytes from where the stream was: ignored
    kTcpEvicted,          // TCP directions forgotten, or their message in progress dropped, to make room
    kCount,
};

constexpr size_t kSipProblems = static_cast<size_t>(SipProblem::kCount);

// "malformed_sip", ...
const char* SipProblemName(SipProblem problem);

struct SignallingCounters {
    uint64_t messages = 0;  // SIP messages read
    std::array<uint64_t, kSipProblems> problems{};
    uint64_t& operator[](SipProblem p) { return problems[static_cast<size_t>(p)]; }
    uint64_t operator[](SipProblem p) const { return problems[static_cast<size_t>(p)]; }
};

}  // namespace mervox::media::signalling
