#include "capture/call_tracker.h"

#include <algorithm>
#include <utility>

#include "signalling/stream_owner.h"

namespace mervox::media::capture {

void CallTracker::DialogsKnown(size_t count)
{
    for (; known_ < count; ++known_)
        open_.insert(known_);
}

std::optional<calls::CallClose> CallTracker::Due(const signalling::Dialog& d, double now)
{
    if (d.Ended() && now >= d.EndTime() + kCallGraceSeconds)
        return calls::CallClose::kEnded;
    if (d.LastActivity() < now - signalling::kCallIdleSeconds || !d.open)
        return calls::CallClose::kIdle;
    return std::nullopt;
}

void CallTracker::StreamEnded(timeline::RtpStream&& stream, const LiveOn& live, bool hold)
{
    // A stream of a call that has closed already (it began in the grace
    // after the call's end) is a call of its own.
    if (stream.dialog != signalling::kNoDialog && (stream.dialog >= known_ || DialogClosed(stream.dialog))) {
        stream.dialog = signalling::kNoDialog;
        stream.fromCaller = false;
        stream.moves.clear();
        stream.moveCount = 0;
    }
    const uint64_t first = stream.firstRecord;
    const calls::StreamSpan span = calls::SpanOf(stream);
    const size_t dialog = stream.dialog;
    byAddresses_.emplace(Addresses{span.source, span.destination}, first);
    if (dialog != signalling::kNoDialog)
        byDialog_.emplace(dialog, first);
    waiting_.emplace(first, std::move(stream));
    if (hold || dialog != signalling::kNoDialog)
        return;
    // It, and those that waited for it to end.
    for (const uint64_t other : UnsignalledMirrors(span))
        Resolve(other, live, false);
    Resolve(first, live, false);
}

std::vector<uint64_t> CallTracker::UnsignalledMirrors(const calls::StreamSpan& span) const
{
    std::vector<uint64_t> found;
    const auto [from, to] = byAddresses_.equal_range({span.destination, span.source});
    for (auto i = from; i != to; ++i) {
        const timeline::RtpStream& s = waiting_.at(i->second);
        if (s.dialog == signalling::kNoDialog && calls::MirrorsNear(span, calls::SpanOf(s)))
            found.push_back(i->second);
    }
    std::sort(found.begin(), found.end());
    return found;
}

timeline::RtpStream CallTracker::Take(uint64_t first)
{
    const auto found = waiting_.find(first);
    timeline::RtpStream s = std::move(found->second);
    waiting_.erase(found);
    const auto erase = [first](auto& index, const auto& key) {
        const auto [from, to] = index.equal_range(key);
        for (auto i = from; i != to; ++i)
            if (i->second == first) {
                index.erase(i);
                return;
            }
    };
    erase(byAddresses_, Addresses{s.source, s.destination});
    if (s.dialog != signalling::kNoDialog)
        erase(byDialog_, s.dialog);
    return s;
}

std::vector<size_t> CallTracker::LiveMirrorsOf(size_t id, const std::vector<LiveStream>& own, const LiveOn& live) const
{
    std::vector<calls::StreamSpan> spans;
    const auto [from, to] = byDialog_.equal_range(id);
    for (auto i = from; i != to; ++i)
        spans.push_back(calls::SpanOf(waiting_.at(i->second)));
    for (const LiveStream& l : own)
        spans.push_back(l.span);
    std::vector<size_t> mirrors;
    for (const calls::StreamSpan& span : spans)
        for (const LiveStream& l : live(span.destination, span.source))
            if (l.dialog == signalling::kNoDialog && calls::MirrorsNear(span, l.span))
                mirrors.push_back(l.id);
    return mirrors;
}

void CallTracker::CloseDialog(size_t id, const signalling::Dialog& d, calls::CallClose why, const LiveOn& live)
{
    if (!open_.erase(id))
        return;
    // Its streams, then for each the first stream in no call that mirrors
    // it (behind NAT the signalling names one side only).
    std::vector<uint64_t> named;
    const auto [from, to] = byDialog_.equal_range(id);
    for (auto i = from; i != to; ++i)
        named.push_back(i->second);
    std::sort(named.begin(), named.end());
    std::vector<std::pair<uint64_t, bool>> members;  // first record, from the caller
    std::vector<calls::StreamSpan> spans;
    for (const uint64_t first : named) {
        const timeline::RtpStream& s = waiting_.at(first);
        members.emplace_back(first, s.fromCaller);
        spans.push_back(calls::SpanOf(s));
    }
    std::vector<uint64_t> released;  // streams in no call that mirror it
    for (size_t m = 0; m < named.size(); ++m) {
        const std::vector<uint64_t> mirrors = UnsignalledMirrors(spans[m]);
        for (const uint64_t first : mirrors)
            if (std::none_of(members.begin(), members.end(), [&](const auto& e) { return e.first == first; })) {
                members.emplace_back(first, !members[m].second);
                break;
            }
        released.insert(released.end(), mirrors.begin(), mirrors.end());
    }
    std::sort(members.begin(), members.end());
    calls::CallRecord record;
    record.closed = why;
    record.dialogId = id;
    record.dialogs.push_back(d);
    record.call.signalled = true;
    record.call.dialog = 0;
    for (const auto& [first, fromCaller] : members) {
        record.call.streams.push_back({record.streams.size(), fromCaller});
        record.streams.push_back(Take(first));
    }
    calls::SetCallTimes(record.call, &record.dialogs[0], record.streams);
    Emit(std::move(record));
    // Mirror images it did not take waited for it.
    std::sort(released.begin(), released.end());
    for (const uint64_t first : released)
        Resolve(first, live, false);
}

void CallTracker::Resolve(uint64_t first, const LiveOn& live, bool final)
{
    const auto found = waiting_.find(first);
    if (found == waiting_.end() || found->second.dialog != signalling::kNoDialog)
        return;
    const calls::StreamSpan span = calls::SpanOf(found->second);
    std::optional<uint64_t> partner;
    const auto [from, to] = byAddresses_.equal_range({span.destination, span.source});
    for (auto i = from; i != to; ++i) {
        const timeline::RtpStream& s = waiting_.at(i->second);
        if (!calls::MirrorsNear(span, calls::SpanOf(s)))
            continue;
        if (s.dialog != signalling::kNoDialog && !final)
            return;  // a SIP call's stream: the call may take it when it closes
        if (s.dialog == signalling::kNoDialog && (!partner || i->second < *partner))
            partner = i->second;
    }
    if (!final && live) {
        // A partner may still be coming.
        for (const LiveStream& l : live(span.destination, span.source))
            if (calls::MirrorsNear(span, l.span))
                return;
    }
    calls::CallRecord record;
    record.closed = final ? unsignalledClose_ : calls::CallClose::kIdle;
    // The one seen first is the caller's side.
    std::vector<uint64_t> members{first};
    if (partner)
        members.push_back(*partner);
    std::sort(members.begin(), members.end());
    for (const uint64_t m : members) {
        record.call.streams.push_back({record.streams.size(), m == members.front()});
        record.streams.push_back(Take(m));
    }
    calls::SetCallTimes(record.call, nullptr, record.streams);
    Emit(std::move(record));
}

void CallTracker::CloseAll(const signalling::SipDialogs& dialogs, calls::CallClose why)
{
    unsignalledClose_ = why;
    const std::vector<size_t> open(open_.begin(), open_.end());
    for (const size_t id : open)
        if (const signalling::Dialog* d = dialogs.Find(id))
            CloseDialog(id, *d, why, nullptr);
    // Streams of calls the tracker never knew are calls of their own.
    for (const auto& [dialog, first] : byDialog_)
        waiting_.at(first).dialog = signalling::kNoDialog;
    byDialog_.clear();
    // In order of first packet, each with its first partner.
    while (!waiting_.empty())
        Resolve(waiting_.begin()->first, nullptr, true);
}

void CallTracker::Emit(calls::CallRecord&& record)
{
    record.call.serial = serial_++;
    closed_(std::move(record));
}

}  // namespace mervox::media::capture
