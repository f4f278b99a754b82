// Puts a capture's streams into calls. A stream belongs to the SIP call
// whose session descriptions name its destination (address and port), or
// its source (a sender behind NAT that sends from where it receives),
// described before the stream began; a stream that mirrors the addresses
// of a call's stream (A:a -> B:b beside B:b -> A:a) joins that call. The
// streams left are paired the same way, the first of each pair being the
// caller's side; a stream without a partner is a call of one direction.
#pragma once

#include <vector>

#include "calls/call.h"
#include "signalling/sip_dialogs.h"
#include "timeline/rtp_stream.h"

namespace mervox::media::calls {

// A session description counts for a stream that begins up to this long
// before it (clocks of capture points differ; media may precede the 200).
constexpr double kMediaLeadSeconds = 5;

std::vector<Call> BuildCalls(const std::vector<signalling::Dialog>& dialogs,
                             const std::vector<timeline::RtpStream>& streams);

}  // namespace mervox::media::calls
