#include "calls/call_quality.h"

namespace mervox::media::calls {

std::optional<quality::ListeningQuality> DirectionQuality(const Call& call,
                                                          const std::vector<timeline::RtpStream>& streams,
                                                          bool fromCaller)
{
    std::vector<const quality::StreamQuality*> direction;
    for (const CallStream& cs : call.streams)
        if (cs.fromCaller == fromCaller && cs.stream < streams.size())
            direction.push_back(&streams[cs.stream].quality);
    if (direction.empty())
        return std::nullopt;
    return quality::EstimateListening(direction);
}

}  // namespace mervox::media::calls
