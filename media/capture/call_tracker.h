// Closes a capture's calls as they end, each with its streams, so that a
// call can be written while the capture goes on (calls/call_builder.h says
// which streams form a call). A SIP call closes kCallGraceSeconds after its
// BYE, CANCEL or failed setup (media may trail the BYE), or once it has had
// no message and no packet for kCallIdleSeconds; streams still alive then
// are ended with it (packets after that start a new stream). Streams
// without signalling close with their partner (the stream that mirrors
// their addresses), or alone, once both have ended: a stream ends after
// kStreamIdleSeconds without a packet. When the capture ends every call
// closes. A stream that mirrors a SIP call's stream joins that call.
//
// The tracker holds ended streams until their call closes; the packet
// sorter (packet_sorter.h) tells it which streams are still alive.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "calls/call_builder.h"
#include "calls/call_record.h"
#include "signalling/sip_dialogs.h"
#include "signalling/stream_owner.h"

namespace mervox::media::capture {

// Media may follow a BYE for this long (as a stream may start before the
// answer that describes it).
constexpr double kCallGraceSeconds = signalling::kMediaLeadSeconds;

// A stream still receiving packets, as far as calls go.
struct LiveStream {
    size_t id = 0;
    calls::StreamSpan span;
    size_t dialog = signalling::kNoDialog;  // the SIP call it belongs to
};

// The live streams sent from one address to another.
using LiveOn = std::function<std::vector<LiveStream>(const net::Endpoint& source, const net::Endpoint& destination)>;

class CallTracker {
public:
    using Closed = std::function<void(calls::CallRecord&&)>;
    explicit CallTracker(Closed closed) : closed_(std::move(closed)) {}

    // Dialogs [0, count) exist: those not seen before are open calls.
    void DialogsKnown(size_t count);
    // Whether SIP call `d` should close at capture time `now`, and why.
    static std::optional<calls::CallClose> Due(const signalling::Dialog& d, double now);
    // The open SIP calls, by number.
    const std::set<size_t>& openDialogs() const { return open_; }

    // A stream has ended (`live`: the streams still alive); with `hold`,
    // its call is not looked for yet (every stream is ending).
    void StreamEnded(timeline::RtpStream&& stream, const LiveOn& live, bool hold = false);
    // The live streams in no call that mirror a stream of SIP call `id`
    // (its own live ones are `own`).
    std::vector<size_t> LiveMirrorsOf(size_t id, const std::vector<LiveStream>& own, const LiveOn& live) const;
    // Closes SIP call `id` (`d`: its dialog) with the ended streams it holds
    // and their mirror images; its live streams must have ended first.
    void CloseDialog(size_t id, const signalling::Dialog& d, calls::CallClose why, const LiveOn& live);
    // Whether SIP call `id` has closed.
    bool DialogClosed(size_t id) const { return id < known_ && !open_.count(id); }
    uint64_t closedCalls() const { return serial_; }

    // The capture has ended (or was stopped): every call closes, SIP calls
    // first in their order. Every stream must have ended.
    // `dialogs`: the SIP calls held.
    void CloseAll(const signalling::SipDialogs& dialogs, calls::CallClose why);

private:
    using Addresses = std::pair<net::Endpoint, net::Endpoint>;
    // Waiting streams by their first record (their order of first packet).
    using WaitingMap = std::map<uint64_t, timeline::RtpStream>;
    // Closes the call of waiting stream `first` (in no SIP call) if it can.
    void Resolve(uint64_t first, const LiveOn& live, bool final);
    // The waiting streams in no SIP call on the reverse of `span`'s addresses.
    std::vector<uint64_t> UnsignalledMirrors(const calls::StreamSpan& span) const;
    timeline::RtpStream Take(uint64_t first);
    void Emit(calls::CallRecord&& record);

    Closed closed_;
    size_t known_ = 0;
    std::set<size_t> open_;
    WaitingMap waiting_;
    std::multimap<Addresses, uint64_t> byAddresses_;  // the waiting streams
    std::multimap<size_t, uint64_t> byDialog_;        // the waiting streams of SIP calls
    uint64_t serial_ = 0;
    calls::CallClose unsignalledClose_ = calls::CallClose::kIdle;
};

}  // namespace mervox::media::capture
