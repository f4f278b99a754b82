#include "signalling/sip_dialogs.h"

#include <algorithm>
#include <iterator>

#include "signalling/message_body.h"
#include "signalling/sip_text.h"

namespace mervox::media::signalling {

Dialog* SipDialogs::Find(const std::string& callId)
{
    const auto found = open_.find(callId);
    return found == open_.end() ? nullptr : &dialogs_[found->second];
}

Dialog* SipDialogs::Open(const SipMessage& m, const Endpoint& source, const Endpoint& destination, double time)
{
    if (dialogs_.size() >= kMaxDialogs) {
        ++counters_[SipProblem::kDialogLimit];
        return nullptr;
    }
    if (open_.size() >= kMaxOpenDialogs) {
        // Room for the new call: the open one idle longest is closed.
        auto oldest = open_.begin();
        for (auto o = open_.begin(); o != open_.end(); ++o)
            if (dialogs_[o->second].lastTime < dialogs_[oldest->second].lastTime)
                oldest = o;
        ++counters_[SipProblem::kDialogsEvicted];
        Close(oldest->first);
    }
    Dialog d;
    d.callId = m.callId;
    d.from = m.from;
    d.to = m.to;
    d.caller = source;
    d.callee = destination;
    d.firstTime = d.lastTime = time;
    dialogs_.push_back(std::move(d));
    open_.emplace(m.callId, dialogs_.size() - 1);
    return &dialogs_.back();
}

void SipDialogs::Close(const std::string& callId)
{
    const auto found = open_.find(callId);
    if (found == open_.end())
        return;
    const size_t index = found->second;
    dialogs_[index].open = false;
    for (auto m = mediaIndex_.begin(); m != mediaIndex_.end();)
        m = m->second.dialog == index ? mediaIndex_.erase(m) : std::next(m);
    open_.erase(found);
}

void SipDialogs::AddSdp(size_t index, const SipMessage& message, bool fromCaller, double time)
{
    const std::string body = SdpBody(message);
    if (body.empty())
        return;
    const SessionDescription sdp = ParseSdp(body);
    counters_[SipProblem::kMalformedSdpLines] += sdp.malformedLines;
    counters_[SipProblem::kSdpMediaLimit] += sdp.skippedMedia;
    Dialog& d = dialogs_[index];
    for (const SdpMedia& media : sdp.audio) {
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
            mediaIndex_[media.endpoint] = {index, d.media.size() - 1};
    }
}

void SipDialogs::Add(const SipMessage& m, const Endpoint& source, const Endpoint& destination, double time)
{
    if (m.callId.empty()) {
        ++counters_[SipProblem::kWithoutCallId];
        return;
    }
    Dialog* d = Find(m.callId);
    const bool invite = m.request && m.method == "INVITE";
    if (!d) {
        if (!invite)
            return;  // OPTIONS, REGISTER, ... and what belongs to calls already closed
        d = Open(m, source, destination, time);
        if (!d)
            return;
    }
    const size_t index = static_cast<size_t>(d - dialogs_.data());
    d->lastTime = std::max(d->lastTime, time);
    ++d->messages;
    // The caller sent it when its From tag is the first INVITE's (requests
    // of the callee swap From and To); without tags, by address.
    const bool fromCaller = !d->from.tag.empty() ? m.from.tag == d->from.tag : source == d->caller;
    const bool sentByCaller = m.request ? fromCaller : !fromCaller;

    if (m.request) {
        if (invite && m.to.tag.empty()) {
            if (!d->sawInvite) {
                d->sawInvite = true;
                d->inviteCseq = m.cseq;
                d->inviteTime = time;
            } else if (m.cseq != d->inviteCseq) {
                // The INVITE again after a challenge (401, 407): the setup goes on.
                d->inviteCseq = m.cseq;
                if (d->finalStatus >= 300) {
                    d->finalStatus = 0;
                    d->finalTime = -1;
                }
            }
        } else if (invite) {
            if (m.cseq != d->reinviteCseq) {  // not a retransmission
                ++d->reinvites;
                d->reinviteCseq = m.cseq;
            }
        } else if (m.method == "ACK") {
            if (d->ackTime < 0)
                d->ackTime = time;
        } else if (m.method == "BYE") {
            if (d->byeTime < 0)
                d->byeTime = time;
        } else if (m.method == "CANCEL") {
            if (d->cancelTime < 0)
                d->cancelTime = time;
        }
    } else if (m.cseqMethod == "INVITE" && m.cseq == d->inviteCseq && d->sawInvite) {
        const bool answer = (m.status > 100 && m.status < 200) || (m.status >= 200 && m.status < 300);
        if (answer && d->answers.size() < kMaxAnswers) {
            const bool seen = std::any_of(d->answers.begin(), d->answers.end(), [&](const SipAnswer& a) {
                return a.status == m.status && a.toTag == m.to.tag;
            });
            if (!seen)
                d->answers.push_back({m.status, m.to.tag, time, !SdpBody(m).empty()});
        }
        if (m.status >= 200 && d->finalStatus == 0) {
            d->finalStatus = m.status;
            d->finalTime = time;
        }
        if (m.status >= 200 && m.status < 300 && d->answerTime < 0)
            d->answerTime = time;
    }
    if (m.body.size() > 0)
        AddSdp(index, m, sentByCaller, time);
}

void SipDialogs::Sweep(double now)
{
    std::vector<std::string> closing;
    for (const auto& [callId, index] : open_) {
        const Dialog& d = dialogs_[index];
        if (d.lastTime < now - kDialogIdleSeconds || (d.Ended() && d.lastTime < now - kEndedDialogSeconds))
            closing.push_back(callId);
    }
    for (const std::string& callId : closing)
        Close(callId);
}

const DialogMedia* SipDialogs::MediaAt(const Endpoint& endpoint, size_t* dialog) const
{
    const auto found = mediaIndex_.find(endpoint);
    if (found == mediaIndex_.end())
        return nullptr;
    if (dialog)
        *dialog = found->second.dialog;
    return &dialogs_[found->second.dialog].media[found->second.media];
}

}  // namespace mervox::media::signalling
