#include "calls/call_builder.h"

#include <algorithm>
#include <map>
#include <utility>

namespace mervox::media::calls {
namespace {

using signalling::Dialog;
using signalling::DialogMedia;

struct Naming {
    size_t dialog;
    double time;
    bool fromCaller;  // the endpoint is the caller's media
};

// Every endpoint that session descriptions name, with when and by whom.
std::map<net::Endpoint, std::vector<Naming>> MediaEndpoints(const std::vector<Dialog>& dialogs)
{
    std::map<net::Endpoint, std::vector<Naming>> named;
    for (size_t d = 0; d < dialogs.size(); ++d)
        for (const DialogMedia& m : dialogs[d].media)
            if (m.media.haveAddress && m.media.endpoint.port != 0)
                named[m.media.endpoint].push_back({d, m.time, m.fromCaller});
    return named;
}

// The call latest to name `endpoint` before `start` (with the lead), and
// not over by then; false when none.
bool Latest(const std::map<net::Endpoint, std::vector<Naming>>& named, const std::vector<Dialog>& dialogs,
            const net::Endpoint& endpoint, double start, Naming& out)
{
    const auto found = named.find(endpoint);
    if (found == named.end())
        return false;
    bool any = false;
    for (const Naming& n : found->second) {
        const Dialog& d = dialogs[n.dialog];
        if (n.time > start + kMediaLeadSeconds || (d.Ended() && d.lastTime < start - kMediaLeadSeconds))
            continue;
        if (!any || n.time >= out.time) {
            out = n;
            any = true;
        }
    }
    return any;
}

std::pair<net::Endpoint, net::Endpoint> Reversed(const timeline::RtpStream& s) { return {s.destination, s.source}; }

}  // namespace

std::vector<Call> BuildCalls(const std::vector<Dialog>& dialogs, const std::vector<timeline::RtpStream>& streams)
{
    std::vector<Call> calls(dialogs.size());
    for (size_t d = 0; d < dialogs.size(); ++d) {
        calls[d].signalled = true;
        calls[d].dialog = d;
        calls[d].start = dialogs[d].inviteTime >= 0 ? dialogs[d].inviteTime : dialogs[d].firstTime;
    }
    const auto named = MediaEndpoints(dialogs);
    std::vector<bool> placed(streams.size(), false);
    // Streams by their addresses, for the mirror images.
    std::map<std::pair<net::Endpoint, net::Endpoint>, std::vector<size_t>> byAddresses;
    for (size_t i = 0; i < streams.size(); ++i)
        byAddresses[{streams[i].source, streams[i].destination}].push_back(i);
    auto mirror = [&](size_t i) -> long {
        const auto found = byAddresses.find(Reversed(streams[i]));
        if (found == byAddresses.end())
            return -1;
        for (size_t j : found->second)
            if (!placed[j])
                return static_cast<long>(j);
        return -1;
    };

    // Streams the signalling names.
    for (size_t i = 0; i < streams.size(); ++i) {
        const timeline::RtpStream& s = streams[i];
        Naming n{};
        bool fromCaller = false;
        if (Latest(named, dialogs, s.destination, s.firstArrival, n))
            fromCaller = !n.fromCaller;  // sent to the caller's media: the callee speaks
        else if (Latest(named, dialogs, s.source, s.firstArrival, n))
            fromCaller = n.fromCaller;
        else
            continue;
        placed[i] = true;
        calls[n.dialog].streams.push_back({i, fromCaller});
    }
    // Their mirror images, the signalling notwithstanding (NAT).
    for (size_t c = 0; c < dialogs.size(); ++c) {
        const size_t named_streams = calls[c].streams.size();
        for (size_t k = 0; k < named_streams; ++k) {
            const long j = mirror(calls[c].streams[k].stream);
            if (j >= 0) {
                placed[static_cast<size_t>(j)] = true;
                calls[c].streams.push_back({static_cast<size_t>(j), !calls[c].streams[k].fromCaller});
            }
        }
    }
    // The rest in pairs, or alone; in order of their first packet.
    for (size_t i = 0; i < streams.size(); ++i) {
        if (placed[i])
            continue;
        placed[i] = true;
        Call call;
        call.streams.push_back({i, true});
        const long j = mirror(i);
        if (j >= 0) {
            placed[static_cast<size_t>(j)] = true;
            call.streams.push_back({static_cast<size_t>(j), false});
        }
        calls.push_back(std::move(call));
    }

    for (Call& call : calls) {
        std::sort(call.streams.begin(), call.streams.end(),
                  [](const CallStream& a, const CallStream& b) { return a.stream < b.stream; });
        double lastPacket = call.signalled ? dialogs[call.dialog].lastTime : 0;
        double firstPacket = 0;
        for (size_t k = 0; k < call.streams.size(); ++k) {
            const timeline::RtpStream& s = streams[call.streams[k].stream];
            lastPacket = std::max(lastPacket, s.lastArrival);
            firstPacket = k == 0 ? s.firstArrival : std::min(firstPacket, s.firstArrival);
        }
        if (!call.signalled) {
            call.start = firstPacket;
            call.end = lastPacket;
            continue;
        }
        const Dialog& d = dialogs[call.dialog];
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
    return calls;
}

}  // namespace mervox::media::calls
