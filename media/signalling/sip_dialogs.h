// The calls that SIP messages set up, by Call-ID: who called whom (From and
// To), when (INVITE, answer, ACK, BYE, CANCEL, the last message), how the
// setup ended (the final response), every early or final answer of a
// forked INVITE, and the media each side's session descriptions name
// (offers and answers, early media, late offers in the 200 and the ACK,
// re-INVITEs that move the media or change the codec). A call is opened by
// an INVITE; other requests outside a call are ignored. Memory is bounded:
// kMaxDialogs calls in all, kMaxOpenDialogs of them open at once (the one
// idle longest is closed to make room), each with at most kMaxDialogMedia
// media and kMaxAnswers answers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "signalling/sdp.h"
#include "signalling/signalling_counts.h"
#include "signalling/sip_message.h"

namespace mervox::media::signalling {

constexpr size_t kMaxDialogs = 10000;
constexpr size_t kMaxOpenDialogs = 4096;
constexpr size_t kMaxDialogMedia = 32;
constexpr size_t kMaxAnswers = 16;
// An open call without a message for this long is closed; one that has
// ended (BYE, CANCEL, a failure) is closed this long after its last message.
constexpr double kDialogIdleSeconds = 4 * 3600;
constexpr double kEndedDialogSeconds = 64;

struct SipAnswer {
    int status = 0;
    std::string toTag;  // one per fork
    double time = 0;
    bool sdp = false;  // early media (18x) or the answer (2xx)
};

// One session description's audio line, as the dialog saw it.
struct DialogMedia {
    SdpMedia media;
    bool fromCaller = false;  // sent by the caller (offer, late-offer ACK) or the callee
    double time = 0;          // of the message that carried it
    int status = 0;           // the response that carried it; 0: a request
    std::string method;       // the request that carried it ("INVITE", "ACK", ...), or the response's CSeq method
};

struct Dialog {
    std::string callId;
    NameAddress from;        // the caller, as the first INVITE names them
    NameAddress to;          // the callee
    Endpoint caller;         // where the first INVITE came from
    Endpoint callee;         // where it went
    bool sawInvite = false;  // false: opened by a re-INVITE, the setup was not captured
    uint32_t inviteCseq = 0;
    uint32_t reinviteCseq = 0;  // of the last re-INVITE
    double inviteTime = -1;
    double answerTime = -1;  // the first 2xx to the INVITE
    double ackTime = -1;
    double byeTime = -1;
    double cancelTime = -1;
    int finalStatus = 0;  // the first final response to the INVITE (0: none seen)
    double finalTime = -1;
    double firstTime = 0;
    double lastTime = 0;  // of the last message
    uint32_t reinvites = 0;
    uint32_t messages = 0;
    std::vector<SipAnswer> answers;  // 18x and 2xx to the INVITE, one per status and tag
    std::vector<DialogMedia> media;
    bool encrypted = false;  // some media of the call is encrypted (never decoded)
    bool open = true;

    bool Ended() const { return byeTime >= 0 || cancelTime >= 0 || finalStatus >= 300; }
};

class SipDialogs {
public:
    explicit SipDialogs(SignallingCounters& counters) : counters_(counters) {}

    // A message sent from `source` to `destination` at `time`.
    void Add(const SipMessage& message, const Endpoint& source, const Endpoint& destination, double time);
    // Closes idle and ended calls.
    void Sweep(double now);

    const std::vector<Dialog>& dialogs() const { return dialogs_; }
    size_t open() const { return open_.size(); }

    // The latest media description naming `endpoint` (address and port), or null.
    struct MediaRef {
        size_t dialog = 0;
        size_t media = 0;
    };
    const DialogMedia* MediaAt(const Endpoint& endpoint, size_t* dialog = nullptr) const;
    bool HasMedia() const { return !mediaIndex_.empty(); }

private:
    Dialog* Find(const std::string& callId);
    Dialog* Open(const SipMessage& message, const Endpoint& source, const Endpoint& destination, double time);
    void Close(const std::string& callId);
    void AddSdp(size_t index, const SipMessage& message, bool fromCaller, double time);

    SignallingCounters& counters_;
    std::vector<Dialog> dialogs_;
    std::map<std::string, size_t> open_;  // Call-ID -> index into dialogs_
    std::map<Endpoint, MediaRef> mediaIndex_;
};

}  // namespace mervox::media::signalling
