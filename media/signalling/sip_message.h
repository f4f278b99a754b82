// One SIP message read from text: its start line, the headers a call needs
// (long and compact forms, folded lines joined) and its body, delimited by
// Content-Length. Lenient: a header line that cannot be read is skipped and
// counted, and the message is still used; only a start line that is not SIP
// or a message beyond kMaxMessageBytes is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mervox::media::signalling {

// A message (headers and body) longer than this is skipped: far beyond any
// call's INVITE, and the bound on what a TCP connection buffers.
constexpr size_t kMaxMessageBytes = 65536;
// A start line is at most this long: a line without its end within this
// many bytes is no start line.
constexpr size_t kMaxStartLineBytes = 2048;
// Header lines read per message; the rest are skipped (counted as malformed).
constexpr size_t kMaxHeaderLines = 256;

// A From or To header: `"Display Name" <sip:user@host>;tag=...`.
struct NameAddress {
    std::string displayName;
    std::string uri;
    std::string tag;
};

NameAddress ParseNameAddress(const std::string& value);

struct SipMessage {
    bool request = false;
    std::string method;  // requests: INVITE, ACK, BYE, ... (upper case as sent)
    int status = 0;      // responses: 100..699
    std::string callId;
    NameAddress from;
    NameAddress to;
    uint32_t cseq = 0;
    std::string cseqMethod;
    std::string contentType;  // without parameters, lower case
    std::string boundary;     // of a multipart body
    std::string replaces;     // the Replaces header (RFC 3891): the dialog a transfer takes over, as written
    std::string body;
    // What was wrong but could be passed over:
    uint32_t malformedLines = 0;  // header lines without a name and a colon, or beyond kMaxHeaderLines
    bool longFields = false;      // a stored field was cut to kMaxFieldBytes
    bool lengthPastEnd = false;   // Content-Length beyond the datagram: body left out
};

enum class SipParse {
    kMessage,     // `out` holds the message; `consumed` its length
    kIncomplete,  // a stream: the headers or the body are not all there yet; `consumed` is the
                  // length the whole message will have once its headers are all there, else 0
    kNotSip,      // the first line is no SIP start line
    kTooLarge,    // beyond kMaxMessageBytes (or a Content-Length that says so)
    kBadLength,   // a stream: Content-Length unreadable, so the message cannot be delimited
};

// True when `data` begins with a SIP start line: "SIP/2.0 NNN ..." or
// "METHOD uri SIP/2.0" (any port, any transport: the text decides).
bool StartsLikeSip(const char* data, size_t size);

// Parses the message at the start of `data`. A datagram ends its message
// (the body is the rest, or the part Content-Length gives); a stream (TCP)
// needs the empty line and Content-Length bytes of body.
SipParse ParseSipMessage(const char* data, size_t size, bool datagram, SipMessage& out, size_t& consumed);

}  // namespace mervox::media::signalling
