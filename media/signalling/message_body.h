// The session description in a SIP message's body: the body itself when it
// is application/sdp (or has no type but reads as SDP), or the
// application/sdp part of a multipart body (SDP beside ISUP, say).
#pragma once

#include <string>

#include "signalling/sip_message.h"

namespace mervox::media::signalling {

// Parts of a multipart body looked at; the rest are passed over.
constexpr size_t kMaxBodyParts = 16;

// The SDP text of `message`, or "" when it carries none.
std::string SdpBody(const SipMessage& message);

}  // namespace mervox::media::signalling
