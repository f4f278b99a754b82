// The calls that SIP messages set up. A call is one INVITE's, known by its
// Call-ID and the caller's From tag, and holds the dialogs its answers open
// (RFC 3261 section 12: the Call-ID and both tags; a forked INVITE opens one
// per callee tag): who called whom (From and To), when (INVITE, answer, ACK,
// BYE, CANCEL, the last message), how the setup ended (the final
// response), every early or final answer, and the media each side's
// session descriptions name (offers and answers, early media, late offers
// in the 200 and the ACK, re-INVITEs that move the media or change the
// codec). A call ends with its last dialog: a BYE ends one dialog, and the
// call only once every dialog that was answered with a 2xx has ended; so a
// request with the Call-ID but the tags of none of the call's dialogs ends
// nothing and changes no media. A new INVITE without a To tag after a call
// has ended starts a new call, unless it repeats the INVITE after a 3xx,
// 401, 407, 422 or 491 (same Call-ID and From tag): then the setup goes
// on. Other requests outside a call are ignored.
// Memory and work are bounded: kMaxDialogs calls held at once (a call is
// forgotten once it is closed and its record was taken: Release),
// kMaxOpenDialogs of them open at once (the one idle longest is closed to make room, found in
// an ordered set), each with at most kMaxDialogMedia media, kMaxAnswers
// answers and kMaxLegs dialogs; each media address remembers the
// kMaxNamings calls that named it last, and each call the addresses it
// named, so that closing a call touches only its own entries.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "signalling/sdp.h"
#include "signalling/signalling_counts.h"
#include "signalling/sip_message.h"

namespace mervox::media::signalling {

constexpr size_t kMaxDialogs = 10000;
constexpr size_t kMaxOpenDialogs = 4096;
constexpr size_t kMaxDialogMedia = 32;
constexpr size_t kMaxAnswers = 16;
constexpr size_t kMaxLegs = 16;
// Calls remembered per media address (the latest to name it; of those
// beyond, one the other party never answered is forgotten first).
constexpr size_t kMaxNamings = 8;
// An open call without a message for this long is closed; one that has
// ended (BYE, CANCEL, a failure) is closed this long after its last message.
constexpr double kDialogIdleSeconds = 4 * 3600;
constexpr double kEndedDialogSeconds = 64;
// No call (an index into the calls).
constexpr size_t kNoDialog = SIZE_MAX;

struct SipAnswer {
    int status = 0;
    std::string toTag;  // one per fork
    double time = 0;
    bool sdp = false;  // early media (18x) or the answer (2xx)
};

// One dialog of a call: the callee's side of it, by its tag.
struct DialogLeg {
    std::string tag;
    double confirmTime = -1;  // its 2xx (or the first request only a confirmed dialog carries)
    double byeTime = -1;
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
    double byeTime = -1;  // the BYE that ended the call's last dialog
    double cancelTime = -1;
    int finalStatus = 0;  // the first final response to the INVITE (0: none seen)
    double finalTime = -1;
    double firstTime = 0;
    double lastTime = 0;  // of the last message
    // The other party's first answer (18x or 2xx) to an INVITE of the call,
    // re-INVITEs included: a call nobody answered claims no stream.
    double replyTime = -1;
    // The last packet of a stream the call holds (stream_owner.h); -1: none.
    double mediaTime = -1;
    uint32_t reinvites = 0;
    uint32_t messages = 0;
    std::vector<SipAnswer> answers;  // 18x and 2xx to the INVITE, one per status and tag
    std::vector<DialogLeg> legs;
    std::vector<DialogMedia> media;
    std::vector<Endpoint> named;  // the distinct media addresses its SDP named
    // A transfer (RFC 3891): the call whose dialog this one's INVITE
    // replaces, and the reverse.
    size_t replaces = kNoDialog;
    size_t replacedBy = kNoDialog;
    bool encrypted = false;  // some media of the call is encrypted (never decoded)
    bool open = true;

    // A 2xx makes the call last until its BYE, a CANCEL or a failure
    // notwithstanding (a 200 that crossed the CANCEL).
    bool Ended() const { return byeTime >= 0 || (answerTime < 0 && (cancelTime >= 0 || finalStatus >= 300)); }
    // When it ended (when Ended()).
    double EndTime() const { return byeTime >= 0 ? byeTime : cancelTime >= 0 ? cancelTime : finalTime; }
    // Its last message or packet.
    double LastActivity() const { return lastTime > mediaTime ? lastTime : mediaTime; }
};

class SipDialogs {
public:
    explicit SipDialogs(SignallingCounters& counters) : counters_(counters) {}

    // A message sent from `source` to `destination` at `time`.
    void Add(const SipMessage& message, const Endpoint& source, const Endpoint& destination, double time);
    // Closes idle and ended calls.
    void Sweep(double now);
    // A packet of a stream that call `dialog` holds, at `time`.
    void MediaSeen(size_t dialog, double time);

    // Call `id` while it is held (open, or closed but not released); null after.
    const Dialog* Find(size_t id) const;
    // Calls numbered so far: [0, count()).
    size_t count() const { return next_; }
    size_t held() const { return dialogs_.size(); }
    size_t open() const { return open_.size(); }
    // Call `id`'s record has been taken: it is forgotten once it is closed.
    void Release(size_t id);
    // Closes call `id` now: it takes no more messages or streams.
    void CloseNow(size_t id) { Close(id); }

    // An open call's latest description naming an address (and port).
    struct Naming {
        size_t dialog = 0;
        size_t media = 0;  // into the call's media
        double time = 0;
    };
    // The open calls that named `endpoint`, at most kMaxNamings; null when none.
    const std::vector<Naming>* NamingsOf(const Endpoint& endpoint) const;
    bool HasMedia() const { return !namings_.empty(); }
    // Entries of the media index visited while closing calls: a measure
    // of the work that stays proportional to the entries made.
    uint64_t indexSteps() const { return indexSteps_; }

private:
    // The open call a message belongs to, and the callee's tag of its dialog.
    struct Place {
        size_t dialog = kNoDialog;
        std::string legTag;
    };
    Place Locate(const SipMessage& message) const;
    size_t Open(const SipMessage& message, const Endpoint& source, const Endpoint& destination, double time);
    void Close(size_t index);
    void Touch(size_t index, double time);
    DialogLeg* Leg(Dialog& d, const std::string& tag, bool create);
    void Take(size_t index, const Place& place, const SipMessage& message, const Endpoint& source, double time);
    void Replaces(size_t index, const std::string& header);
    void AddSdp(size_t index, const SipMessage& message, bool fromCaller, double time);
    void Name(size_t index, size_t media, double time);

    SignallingCounters& counters_;
    std::unordered_map<size_t, Dialog> dialogs_;  // the calls held, by number
    std::unordered_set<size_t> released_;         // held until they close
    size_t next_ = 0;
    std::map<std::pair<std::string, std::string>, size_t> open_;  // (Call-ID, caller's tag) -> index into dialogs_
    std::set<std::pair<double, size_t>> byLastTime_;              // the open calls by their last message
    std::map<Endpoint, std::vector<Naming>> namings_;
    uint64_t indexSteps_ = 0;
};

}  // namespace mervox::media::signalling
