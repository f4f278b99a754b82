#include "signalling/stream_owner.h"

namespace mervox::media::signalling {
namespace {

struct Claim {
    size_t dialog = kNoDialog;
    bool answered = false;
    bool fromCaller = false;  // the stream is sent by that call's caller
    double time = 0;          // of the naming
};

// The call that claims a stream first seen at `first` through its
// `endpoint` (its destination, or else its source): the answered calls
// before the others, then the latest naming. A move (`move`) takes only an
// answered call that has not ended, other than `except`.
Claim ClaimOf(const SipDialogs& dialogs, const Endpoint& endpoint, bool destination, double first, bool move,
              size_t except)
{
    Claim best;
    const std::vector<SipDialogs::Naming>* namings = dialogs.NamingsOf(endpoint);
    if (!namings)
        return best;
    for (const SipDialogs::Naming& n : *namings) {
        const Dialog& d = *dialogs.Find(n.dialog);  // a naming is an open call's
        if (n.dialog == except || n.time > first + kMediaLeadSeconds ||
            (d.Ended() && (move || d.EndTime() < first - kMediaLeadSeconds)) ||
            d.LastActivity() < first - kCallIdleSeconds)
            continue;
        const bool answered = d.replyTime >= 0 && d.replyTime <= first + kMediaLeadSeconds;
        // A call nobody answered counts only with a description from
        // before the stream began (early media ahead of its 183, a capture
        // of one direction), so that an INVITE sent into a live stream
        // changes nothing.
        if (!answered && n.time > first)
            continue;
        if ((move && !answered) || (best.dialog != kNoDialog && (best.answered && !answered)) ||
            (best.dialog != kNoDialog && best.answered == answered && n.time < best.time))
            continue;
        const bool namedByCaller = d.media[n.media].fromCaller;
        // Sent to the caller's media: the callee speaks.
        best = {n.dialog, answered, destination ? !namedByCaller : namedByCaller, n.time};
    }
    return best;
}

Claim ClaimFor(const SipDialogs& dialogs, const Endpoint& source, const Endpoint& destination, double first, bool move,
               size_t except)
{
    const Claim byDestination = ClaimOf(dialogs, destination, true, first, move, except);
    if (byDestination.answered)
        return byDestination;
    const Claim bySource = ClaimOf(dialogs, source, false, first, move, except);
    return bySource.answered || byDestination.dialog == kNoDialog ? bySource : byDestination;
}

// The latest of the call's descriptions that names `endpoint`, or null.
const DialogMedia* Latest(const Dialog& d, const Endpoint& endpoint)
{
    for (auto m = d.media.rbegin(); m != d.media.rend(); ++m)
        if (m->media.haveAddress && m->media.endpoint.port != 0 && m->media.endpoint == endpoint)
            return &*m;
    return nullptr;
}

void Move(StreamOwner& owner, size_t to, bool fromCaller, double now)
{
    if (owner.moveCount == 0) {
        owner.firstDialog = owner.dialog;
        owner.firstFromCaller = owner.fromCaller;
    }
    if (owner.moves.size() < kMaxStreamMoves)
        owner.moves.push_back({now, owner.dialog, to});
    ++owner.moveCount;
    owner.dialog = to;
    owner.fromCaller = fromCaller;
}

}  // namespace

void FollowStream(SipDialogs& dialogs, const Endpoint& source, const Endpoint& destination, double now,
                  StreamOwner& owner)
{
    if (!owner.settled) {
        const Claim c = ClaimFor(dialogs, source, destination, owner.firstPacket, false, kNoDialog);
        owner.dialog = c.dialog;
        owner.attached = c.answered;
        owner.fromCaller = c.fromCaller;
        owner.settled = now > owner.firstPacket + kMediaLeadSeconds;
    } else if (const Dialog* d = owner.attached ? dialogs.Find(owner.dialog) : nullptr) {
        // (A call already forgotten holds its streams no more.)
        const DialogMedia* receiver = nullptr;
        const DialogMedia* sender = nullptr;
        if (d->replacedBy != kNoDialog) {
            // A transfer took the call over: the stream follows once the
            // new call is answered and its SDP names the stream's addresses.
            const Dialog* r = dialogs.Find(d->replacedBy);
            if (r && r->answerTime >= 0 && !r->Ended() && !(receiver = Latest(*r, destination)))
                sender = Latest(*r, source);
        }
        if (receiver || sender) {
            Move(owner, d->replacedBy, receiver ? !receiver->fromCaller : sender->fromCaller, now);
        } else if (d->Ended() && now > d->EndTime()) {
            const Claim c = ClaimFor(dialogs, source, destination, now, true, owner.dialog);
            if (c.answered)
                Move(owner, c.dialog, c.fromCaller, now);
        }
    }
    if (owner.attached)
        dialogs.MediaSeen(owner.dialog, now);
}

PayloadUse UseOf(const SipDialogs& dialogs, const StreamOwner& owner, const Endpoint& source,
                 const Endpoint& destination, int payloadType)
{
    const Dialog* d = owner.dialog == kNoDialog ? nullptr : dialogs.Find(owner.dialog);
    if (!d)
        return PayloadUse::kUnsignalled;
    const DialogMedia* receiver = Latest(*d, destination);
    const DialogMedia* sender = Latest(*d, source);
    if (!receiver && !sender)
        return PayloadUse::kUnsignalled;
    if ((receiver && receiver->media.encrypted) || (sender && sender->media.encrypted))
        return PayloadUse::kEncrypted;
    for (const DialogMedia* m : {receiver, sender}) {
        if (!m)
            continue;
        switch (m->media.KindOf(payloadType)) {
        case PayloadKind::kG7231:
            return PayloadUse::kG7231;
        case PayloadKind::kTelephoneEvent:
            return PayloadUse::kTelephoneEvent;
        case PayloadKind::kComfortNoise:
            return PayloadUse::kComfortNoise;
        case PayloadKind::kOther:
            return PayloadUse::kOther;
        case PayloadKind::kUnknown:
            break;
        }
    }
    return PayloadUse::kOther;
}

}  // namespace mervox::media::signalling
