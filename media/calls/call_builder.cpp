#include "calls/call_builder.h"

#include <algorithm>

#include "calls/call_record.h"
#include "signalling/stream_owner.h"

namespace mervox::media::calls {

StreamSpan SpanOf(const timeline::RtpStream& s) { return {s.source, s.destination, s.firstArrival, s.lastArrival}; }

bool MirrorsNear(const StreamSpan& a, const StreamSpan& b)
{
    return a.source == b.destination && a.destination == b.source && a.first <= b.last + signalling::kCallIdleSeconds &&
           b.first <= a.last + signalling::kCallIdleSeconds;
}

void SetCallTimes(Call& call, const signalling::Dialog* dialog, const std::vector<timeline::RtpStream>& streams)
{
    double lastPacket = dialog ? dialog->lastTime : 0;
    double firstPacket = 0;
    for (size_t k = 0; k < call.streams.size(); ++k) {
        const timeline::RtpStream& s = streams[call.streams[k].stream];
        lastPacket = std::max(lastPacket, s.lastArrival);
        firstPacket = k == 0 ? s.firstArrival : std::min(firstPacket, s.firstArrival);
    }
    if (!dialog) {
        call.start = firstPacket;
        call.end = lastPacket;
        return;
    }
    const signalling::Dialog& d = *dialog;
    call.start = d.inviteTime >= 0 ? d.inviteTime : d.firstTime;
    // The call ends with its BYE or its CANCEL, or when its setup fails;
    // without any of them, at its last packet.
    if (d.byeTime >= 0)
        call.end = d.byeTime;
    else if (d.cancelTime >= 0)
        call.end = d.cancelTime;
    else if (d.finalStatus >= 300)
        call.end = d.finalTime;
    else
        call.end = lastPacket;
}

const char* CallCloseName(CallClose close)
{
    switch (close) {
    case CallClose::kEnded:
        return "ended";
    case CallClose::kIdle:
        return "idle";
    case CallClose::kInputEnd:
        return "capture_end";
    case CallClose::kStopped:
        return "stopped";
    }
    return "";
}

}  // namespace mervox::media::calls
