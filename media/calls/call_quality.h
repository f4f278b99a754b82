// How well each side of a call heard the other: the listening-quality
// estimate of the streams one party sent (and the other received), taken
// together.
#pragma once

#include <optional>
#include <vector>

#include "calls/call.h"
#include "quality/stream_quality.h"
#include "timeline/rtp_stream.h"

namespace mervox::media::calls {

// The estimate for the streams of `call` sent by the caller (fromCaller
// true) or by the callee; none where that direction has no stream.
std::optional<quality::ListeningQuality> DirectionQuality(const Call& call,
                                                          const std::vector<timeline::RtpStream>& streams,
                                                          bool fromCaller);

}  // namespace mervox::media::calls
