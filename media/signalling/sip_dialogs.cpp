#include "signalling/sip_dialogs.h"

#include <algorithm>

#include "signalling/message_body.h"
#include "signalling/sip_text.h"

namespace mervox::media::signalling {
namespace {

// Final responses after which the caller sends the INVITE again, with the
// same Call-ID and From tag, and the setup goes on: a redirection, a
// challenge, a session interval too small, a glare.
bool Retried(int status)
{
    return (status >= 300 && status < 400) || status == 401 || status == 407 || status == 422 || status == 491;
}

bool IsAnswer(int status) { return (status > 100 && status < 200) || (status >= 200 && status < 300); }

bool SameMedia(const SdpMedia& a, const SdpMedia& b)
{
    if (a.haveAddress != b.haveAddress || !(a.endpoint == b.endpoint) || a.protocol != b.protocol ||
        a.direction != b.direction || a.encrypted != b.encrypted || a.payloads.size() != b.payloads.size())
        return false;
    for (size_t i = 0; i < a.payloads.size(); ++i)
        if (a.payloads[i].payloadType != b.payloads[i].payloadType || a.payloads[i].encoding != b.payloads[i].encoding)
            return false;
    return true;
}

}  // namespace

SipDialogs::Place SipDialogs::Locate(const SipMessage& m) const
{
    auto at = [&](const std::string& tag) {
        const auto found = open_.find({m.callId, tag});
        return found == open_.end() ? kNoDialog : found->second;
    };
    // The caller's requests and the answers to them carry the caller's tag
    // in From; the callee's requests and the answers to them in To.
    size_t index = at(m.from.tag);
    if (index != kNoDialog)
        return {index, m.to.tag};
    if (!m.to.tag.empty() && (index = at(m.to.tag)) != kNoDialog)
        return {index, m.from.tag};
    // A call of peers that send no tags: every message of its Call-ID.
    if (!m.from.tag.empty() && (index = at("")) != kNoDialog)
        return {index, m.to.tag.empty() ? m.from.tag : m.to.tag};
    return {};
}

size_t SipDialogs::Open(const SipMessage& m, const Endpoint& source, const Endpoint& destination, double time)
{
    if (dialogs_.size() >= kMaxDialogs) {
        ++counters_[SipProblem::kDialogLimit];
        return kNoDialog;
    }
    if (open_.size() >= kMaxOpenDialogs) {
        // Room for the new call: the open one idle longest is closed.
        ++counters_[SipProblem::kDialogsEvicted];
        Close(byLastTime_.begin()->second);
    }
    Dialog d;
    d.callId = m.callId;
    d.from = m.from;
    d.to = m.to;
    d.caller = source;
    d.callee = destination;
    d.firstTime = d.lastTime = time;
    const size_t index = next_++;
    dialogs_.emplace(index, std::move(d));
    open_[{m.callId, m.from.tag}] = index;
    byLastTime_.insert({time, index});
    return index;
}

void SipDialogs::Close(size_t index)
{
    Dialog& d = dialogs_.at(index);
    if (!d.open)
        return;
    d.open = false;
    const auto found = open_.find({d.callId, d.from.tag});
    if (found != open_.end() && found->second == index)
        open_.erase(found);
    byLastTime_.erase({d.lastTime, index});
    for (const Endpoint& e : d.named) {
        const auto entry = namings_.find(e);
        if (entry == namings_.end())
            continue;
        std::vector<Naming>& v = entry->second;
        indexSteps_ += v.size();
        v.erase(std::remove_if(v.begin(), v.end(), [&](const Naming& n) { return n.dialog == index; }), v.end());
        if (v.empty())
            namings_.erase(entry);
    }
    if (released_.erase(index))
        dialogs_.erase(index);
}

void SipDialogs::Touch(size_t index, double time)
{
    Dialog& d = dialogs_.at(index);
    if (time <= d.lastTime)
        return;
    byLastTime_.erase({d.lastTime, index});
    d.lastTime = time;
    byLastTime_.insert({time, index});
}

void SipDialogs::MediaSeen(size_t dialog, double time)
{
    const auto found = dialogs_.find(dialog);
    if (found != dialogs_.end() && time > found->second.mediaTime)
        found->second.mediaTime = time;
}

const Dialog* SipDialogs::Find(size_t id) const
{
    const auto found = dialogs_.find(id);
    return found == dialogs_.end() ? nullptr : &found->second;
}

void SipDialogs::Release(size_t id)
{
    const auto found = dialogs_.find(id);
    if (found == dialogs_.end())
        return;
    if (found->second.open)
        released_.insert(id);
    else
        dialogs_.erase(found);
}

DialogLeg* SipDialogs::Leg(Dialog& d, const std::string& tag, bool create)
{
    for (DialogLeg& leg : d.legs)
        if (leg.tag == tag)
            return &leg;
    if (!create || d.legs.size() >= kMaxLegs)
        return nullptr;
    d.legs.push_back({tag, -1, -1});
    return &d.legs.back();
}

void SipDialogs::Add(const SipMessage& m, const Endpoint& source, const Endpoint& destination, double time)
{
    if (m.callId.empty()) {
        ++counters_[SipProblem::kWithoutCallId];
        return;
    }
    const bool invite = m.request && m.method == "INVITE";
    Place place = Locate(m);
    if (invite && m.to.tag.empty() && place.dialog != kNoDialog) {
        // An INVITE outside any dialog with the Call-ID and From tag of a
        // call: that INVITE again (a retransmission, or sent anew after a
        // redirection or a challenge), or, once the call has ended, a new
        // call that reuses the Call-ID.
        const Dialog& d = dialogs_.at(place.dialog);
        const bool again = d.sawInvite && m.cseq == d.inviteCseq;
        if (!again && d.Ended() && !(d.byeTime < 0 && d.answerTime < 0 && Retried(d.finalStatus))) {
            Close(place.dialog);
            place = {};
        }
    }
    if (place.dialog == kNoDialog) {
        if (!invite)
            return;  // OPTIONS, REGISTER, ... and what belongs to calls already closed
        place = {Open(m, source, destination, time), m.to.tag};
        if (place.dialog == kNoDialog)
            return;
        if (!m.to.tag.empty()) {
            // A re-INVITE: the dialog was set up before the capture began.
            Dialog& d = dialogs_.at(place.dialog);
            d.legs.push_back({m.to.tag, time, -1});
        }
        if (!m.replaces.empty())
            Replaces(place.dialog, m.replaces);
    }
    Take(place.dialog, place, m, source, time);
}

void SipDialogs::Take(size_t index, const Place& place, const SipMessage& m, const Endpoint& source, double time)
{
    Dialog& d = dialogs_.at(index);
    const bool invite = m.request && m.method == "INVITE";
    const bool outsideDialog = m.request && m.to.tag.empty() && (invite || m.method == "CANCEL");
    const bool ofInvite = !m.request && m.cseqMethod == "INVITE" && m.cseq == d.inviteCseq && d.sawInvite;
    // A message of one of the call's dialogs: the answers to the INVITE
    // open them; a request of either party must name one, unless none was
    // seen (the setup was not captured).
    DialogLeg* leg = Leg(d, place.legTag, ofInvite && IsAnswer(m.status));
    if (!leg && d.legs.empty() && m.request && !outsideDialog && m.method != "ACK")
        leg = Leg(d, place.legTag, true);
    const bool ownDialog = leg || outsideDialog || ofInvite || d.legs.empty();
    // An ACK of a failure carries the tag of the response it acknowledges,
    // which opened no dialog: it still dates the call's ACK.
    if (!ownDialog && !(m.request && m.method == "ACK"))
        return;  // the Call-ID and tags of no dialog of the call: forged, or of a dialog not captured
    Touch(index, time);
    ++d.messages;
    // The caller sent it when its From tag is the first INVITE's (requests
    // of the callee swap From and To); without tags, by address.
    const bool fromCaller = !d.from.tag.empty() ? m.from.tag == d.from.tag : source == d.caller;
    const bool sentByCaller = m.request ? fromCaller : !fromCaller;

    if (m.request) {
        if (invite && m.to.tag.empty()) {
            if (!d.sawInvite) {
                d.sawInvite = true;
                d.inviteCseq = m.cseq;
                d.inviteTime = time;
            } else if (m.cseq != d.inviteCseq) {
                // The INVITE again after a redirection or a challenge: the setup goes on.
                d.inviteCseq = m.cseq;
                if (d.finalStatus >= 300) {
                    d.finalStatus = 0;
                    d.finalTime = -1;
                }
            }
        } else if (invite) {
            if (m.cseq != d.reinviteCseq) {  // not a retransmission
                ++d.reinvites;
                d.reinviteCseq = m.cseq;
            }
            if (leg && leg->confirmTime < 0)
                leg->confirmTime = time;
        } else if (m.method == "ACK") {
            if (d.ackTime < 0)
                d.ackTime = time;
            if (leg && leg->confirmTime < 0)
                leg->confirmTime = time;
        } else if (m.method == "BYE") {
            if (leg && leg->byeTime < 0)
                leg->byeTime = time;
            // The call ends with its last dialog: when every confirmed one
            // has ended (none confirmed: with this early one).
            const bool open = std::any_of(d.legs.begin(), d.legs.end(),
                                          [](const DialogLeg& l) { return l.confirmTime >= 0 && l.byeTime < 0; });
            if (leg && !open && d.byeTime < 0)
                d.byeTime = time;
        } else if (m.method == "CANCEL") {
            if (d.cancelTime < 0)
                d.cancelTime = time;
        }
    } else if (m.cseqMethod == "INVITE") {
        if (m.cseq == d.inviteCseq && d.sawInvite) {
            if (IsAnswer(m.status) && d.answers.size() < kMaxAnswers) {
                const bool seen = std::any_of(d.answers.begin(), d.answers.end(), [&](const SipAnswer& a) {
                    return a.status == m.status && a.toTag == m.to.tag;
                });
                if (!seen)
                    d.answers.push_back({m.status, m.to.tag, time, !SdpBody(m).empty()});
            }
            if (m.status >= 200 && d.finalStatus == 0) {
                d.finalStatus = m.status;
                d.finalTime = time;
            }
            if (m.status >= 200 && m.status < 300 && d.answerTime < 0)
                d.answerTime = time;
        }
        if (IsAnswer(m.status) && leg) {
            if (d.replyTime < 0)
                d.replyTime = time;
            if (m.status >= 200 && leg->confirmTime < 0)
                leg->confirmTime = time;
        }
    }
    if (m.body.size() > 0 && ownDialog)
        AddSdp(index, m, sentByCaller, time);
}

void SipDialogs::Replaces(size_t index, const std::string& header)
{
    // "call-id;to-tag=...;from-tag=...": the tags as the receiver of the
    // INVITE knows them, so either may be the replaced call's caller's.
    const std::string callId = Trim(header.substr(0, header.find(';')));
    const size_t semicolon = header.find(';');
    const std::string params = semicolon == std::string::npos ? std::string() : header.substr(semicolon);
    const std::string toTag = Parameter(params, "to-tag"), fromTag = Parameter(params, "from-tag");
    for (const auto& [caller, callee] : {std::make_pair(fromTag, toTag), std::make_pair(toTag, fromTag)}) {
        const auto found = open_.find({callId, caller});
        if (found == open_.end() || found->second == index)
            continue;
        Dialog& replaced = dialogs_.at(found->second);
        if (!Leg(replaced, callee, false))
            continue;
        replaced.replacedBy = index;
        dialogs_.at(index).replaces = found->second;
        return;
    }
}

void SipDialogs::AddSdp(size_t index, const SipMessage& message, bool fromCaller, double time)
{
    const std::string body = SdpBody(message);
    if (body.empty())
        return;
    const SessionDescription sdp = ParseSdp(body);
    counters_[SipProblem::kMalformedSdpLines] += sdp.malformedLines;
    counters_[SipProblem::kSdpMediaLimit] += sdp.skippedMedia;
    Dialog& d = dialogs_.at(index);
    for (const SdpMedia& media : sdp.audio) {
        // A session refresh (a re-INVITE or UPDATE that repeats the
        // description, every few minutes of a long call) adds nothing.
        const auto same = std::find_if(d.media.rbegin(), d.media.rend(), [&](const DialogMedia& m) {
            return m.fromCaller == fromCaller && m.media.haveAddress == media.haveAddress &&
                   m.media.endpoint == media.endpoint;
        });
        if (same != d.media.rend() && SameMedia(same->media, media))
            continue;
        if (d.media.size() >= kMaxDialogMedia) {
            ++counters_[SipProblem::kSdpMediaLimit];
            continue;
        }
        DialogMedia m;
        m.media = media;
        m.fromCaller = fromCaller;
        m.time = time;
        m.status = message.request ? 0 : message.status;
        m.method = message.request ? message.method : message.cseqMethod;
        d.encrypted = d.encrypted || media.encrypted;
        d.media.push_back(std::move(m));
        // Port 0 declines the stream; an address-less line places nothing.
        if (media.haveAddress && media.endpoint.port != 0)
            Name(index, d.media.size() - 1, time);
    }
}

void SipDialogs::Name(size_t index, size_t media, double time)
{
    Dialog& d = dialogs_.at(index);
    const Endpoint& e = d.media[media].media.endpoint;
    std::vector<Naming>& v = namings_[e];
    for (Naming& n : v)
        if (n.dialog == index) {
            n = {index, media, time};
            return;
        }
    if (v.size() >= kMaxNamings) {
        // The oldest naming of a call nobody answered goes first, so that
        // unanswered INVITEs cannot push out a call that was answered.
        auto forgotten = v.end();
        for (bool answered : {false, true}) {
            for (auto n = v.begin(); n != v.end(); ++n)
                if ((dialogs_.at(n->dialog).replyTime >= 0) == answered &&
                    (forgotten == v.end() || n->time < forgotten->time))
                    forgotten = n;
            if (forgotten != v.end())
                break;
        }
        v.erase(forgotten);
    }
    v.push_back({index, media, time});
    if (std::find(d.named.begin(), d.named.end(), e) == d.named.end())
        d.named.push_back(e);
}

void SipDialogs::Sweep(double now)
{
    // Only calls without a message for kEndedDialogSeconds can close:
    // those ended, and those idle (no message, no packet) for kDialogIdleSeconds.
    std::vector<size_t> closing;
    for (const auto& [lastTime, index] : byLastTime_) {
        if (lastTime >= now - kEndedDialogSeconds)
            break;
        const Dialog& d = dialogs_.at(index);
        if (d.Ended() || d.LastActivity() < now - kDialogIdleSeconds)
            closing.push_back(index);
    }
    for (const size_t index : closing)
        Close(index);
}

const std::vector<SipDialogs::Naming>* SipDialogs::NamingsOf(const Endpoint& endpoint) const
{
    const auto found = namings_.find(endpoint);
    return found == namings_.end() ? nullptr : &found->second;
}

}  // namespace mervox::media::signalling
