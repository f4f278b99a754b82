#include "calls/call_builder.h"

#include <algorithm>
#include <map>
#include <utility>

#include "signalling/stream_owner.h"

namespace mervox::media::calls {
namespace {

using signalling::Dialog;

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
    std::vector<bool> placed(streams.size(), false);
    // Streams by their addresses, for the mirror images.
    std::map<std::pair<net::Endpoint, net::Endpoint>, std::vector<size_t>> byAddresses;
    for (size_t i = 0; i < streams.size(); ++i)
        byAddresses[{streams[i].source, streams[i].destination}].push_back(i);
    auto near = [&](const timeline::RtpStream& a, const timeline::RtpStream& b) {
        return a.firstArrival <= b.lastArrival + signalling::kCallIdleSeconds &&
               b.firstArrival <= a.lastArrival + signalling::kCallIdleSeconds;
    };
    auto mirror = [&](size_t i) -> long {
        const auto found = byAddresses.find(Reversed(streams[i]));
        if (found == byAddresses.end())
            return -1;
        for (size_t j : found->second)
            if (!placed[j] && near(streams[i], streams[j]))
                return static_cast<long>(j);
        return -1;
    };

    // Streams the signalling names.
    for (size_t i = 0; i < streams.size(); ++i) {
        if (streams[i].dialog >= dialogs.size())
            continue;
        placed[i] = true;
        calls[streams[i].dialog].streams.push_back({i, streams[i].fromCaller});
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
