// How a capture's streams form calls. A stream belongs to the SIP call
// that the capture reader found for it (RtpStream::dialog: the answered call
// whose session descriptions named its destination or, behind NAT, its
// source; signalling/stream_owner.h); a stream that mirrors the addresses
// of a call's stream (A:a -> B:b beside B:b -> A:a) joins that call. The
// streams left are paired the same way, the first of each pair being the
// caller's side; a stream without a partner is a call of one direction.
// Mirror images pair only while both are alive, or within
// signalling::kCallIdleSeconds of each other: a stream on a call's
// addresses long after the call is a call of its own. The capture's call
// tracker (capture/call_tracker.h) applies these rules as calls close.
#pragma once

#include <vector>

#include "calls/call.h"
#include "net/endpoint.h"
#include "signalling/sip_dialogs.h"
#include "timeline/rtp_stream.h"

namespace mervox::media::calls {

// Where a stream went and when it was alive.
struct StreamSpan {
    net::Endpoint source;
    net::Endpoint destination;
    double first = 0;  // capture time of its first packet
    double last = 0;   // and of its last one (so far)
};
StreamSpan SpanOf(const timeline::RtpStream& s);

// Whether `a` and `b` mirror each other's addresses and were alive within
// kCallIdleSeconds of each other.
bool MirrorsNear(const StreamSpan& a, const StreamSpan& b);

// Sets the call's start and end: a SIP call from its INVITE (or first
// message) to its BYE, CANCEL or failure, else to its last message or
// packet; an unsignalled one from its first packet to its last. `dialog`:
// the call's, null when unsignalled.
void SetCallTimes(Call& call, const signalling::Dialog* dialog, const std::vector<timeline::RtpStream>& streams);

}  // namespace mervox::media::calls
