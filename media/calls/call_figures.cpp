#include "calls/call_figures.h"

#include <algorithm>

#include "calls/call_quality.h"

namespace mervox::media::calls {
namespace {

std::string PartyText(const signalling::NameAddress& a)
{
    const std::string uri = "<" + a.uri + ">";
    return a.displayName.empty() ? uri : "\"" + a.displayName + "\" " + uri;
}

}  // namespace

CallFigures FiguresOf(const Call& c, const std::vector<signalling::Dialog>& dialogs,
                      const std::vector<timeline::RtpStream>& streams)
{
    CallFigures f;
    if (c.signalled) {
        const signalling::Dialog& d = dialogs[c.dialog];
        f.from = PartyText(d.from);
        f.to = PartyText(d.to);
        f.outcome = d.finalStatus       ? std::to_string(d.finalStatus)
                    : d.cancelTime >= 0 ? "cancelled"
                    : d.answerTime >= 0 ? "answered"
                                        : "no final response";
        if (d.encrypted)
            f.outcome += ", encrypted media";
    } else {
        f.outcome = c.streams.size() > 1 ? "no signalling" : "one direction, no signalling";
        for (const CallStream& cs : c.streams)
            if (cs.fromCaller) {
                const timeline::RtpStream& s = streams[cs.stream];
                f.from = net::EndpointText(s.source);
                f.to = net::EndpointText(s.destination);
                break;
            }
    }
    f.duration = c.end - c.start;
    f.callerToCallee = DirectionQuality(c, streams, true);
    f.calleeToCaller = DirectionQuality(c, streams, false);
    for (const auto& q : {f.callerToCallee, f.calleeToCaller})
        if (q) {
            f.worstMos = f.worstMos ? std::min(*f.worstMos, q->model.mos) : q->model.mos;
            f.worstR = f.worstR ? std::min(*f.worstR, q->model.r) : q->model.r;
        }
    for (const CallStream& cs : c.streams) {
        const double m = streams[cs.stream].quality.rtp.jitterMs.max;
        f.jitterMaxMs = f.haveJitter ? std::max(f.jitterMaxMs, m) : m;
        f.haveJitter = true;
    }
    return f;
}

const char* RatingOf(const CallFigures& f)
{
    if (!f.worstR)
        return "unrated";
    return *f.worstR < 60 ? "bad" : *f.worstR < 70 ? "poor" : "good";
}

}  // namespace mervox::media::calls
