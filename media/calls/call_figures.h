// What the report shows of a call, each figure from the same value as
// `mervox pcap --json` gives it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calls/call.h"
#include "quality/stream_quality.h"
#include "signalling/sip_dialogs.h"
#include "timeline/rtp_stream.h"

namespace mervox::media::calls {

struct CallFigures {
    std::string from, to;  // parties (unescaped): display name and URI, or the caller's and callee's address
    std::string outcome;   // the final response, or what happened instead
    double duration = 0;   // end - start, seconds
    std::optional<quality::ListeningQuality> callerToCallee, calleeToCaller;
    double jitterMaxMs = 0;  // the largest interarrival jitter of its streams
    bool haveJitter = false;
    // The lower MOS of the two directions; none without an estimate.
    std::optional<double> worstMos;
    std::optional<double> worstR;
};

CallFigures FiguresOf(const Call& call, const std::vector<signalling::Dialog>& dialogs,
                      const std::vector<timeline::RtpStream>& streams);

// How the call fared, by the lower R of its directions (G.107's user
// satisfaction): "bad" below 60 (nearly all users dissatisfied), "poor"
// below 70 (many dissatisfied), "good" from 70 on, "unrated" without one.
const char* RatingOf(const CallFigures& figures);

}  // namespace mervox::media::calls
