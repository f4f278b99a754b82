// Puts a capture's streams into calls. A stream belongs to the SIP call
// that the capture reader found for it (RtpStream::dialog: the answered call
// whose session descriptions named its destination or, behind NAT, its
// source; signalling/stream_owner.h); a stream that mirrors the addresses
// of a call's stream (A:a -> B:b beside B:b -> A:a) joins that call. The
// streams left are paired the same way, the first of each pair being the
// caller's side; a stream without a partner is a call of one direction.
// Mirror images pair only while both are alive, or within
// signalling::kCallIdleSeconds of each other: a stream on a call's
// addresses long after the call is a call of its own.
#pragma once

#include <vector>

#include "calls/call.h"
#include "signalling/sip_dialogs.h"
#include "timeline/rtp_stream.h"

namespace mervox::media::calls {

std::vector<Call> BuildCalls(const std::vector<signalling::Dialog>& dialogs,
                             const std::vector<timeline::RtpStream>& streams);

}  // namespace mervox::media::calls
