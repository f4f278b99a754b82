// Which SIP call an RTP stream belongs to, and so whose session
// descriptions say what its payload types carry and whether it is
// encrypted. A stream belongs to the call whose SDP named its destination
// (or, behind NAT, its source) no later than kMediaLeadSeconds after its
// first packet, that had not ended kMediaLeadSeconds before that packet nor
// gone kCallIdleSeconds without a message or a packet, and that the other
// party answered (18x or 2xx) no later than kMediaLeadSeconds after that
// packet; of several, the latest to name it. Until then the choice is
// provisional; afterwards only the call's own SDP (a re-INVITE of the same
// dialog) changes the stream's payload types or encryption, and the stream
// moves to another call only when its own has ended and another answered
// call names its addresses, or when an answered INVITE with Replaces took
// over its call and names them. A stream that no answered call names takes
// its payload types from the call that named it before its first packet, if
// any, but belongs to none.
#pragma once

#include <cstdint>
#include <vector>

#include "signalling/sip_dialogs.h"

namespace mervox::media::signalling {

// How far apart a description and a stream's first packet may lie (the
// clocks of capture points differ; media may precede the 200 that describes it).
constexpr double kMediaLeadSeconds = 5;
// A call that has had no message and no packet of its streams for this long
// (as long as a stream may pause before it ends) takes no new stream.
constexpr double kCallIdleSeconds = 300;
// Moves kept per stream (all are counted).
constexpr size_t kMaxStreamMoves = 16;

struct StreamMove {
    double time = 0;  // of the packet that found the stream in its new call
    size_t from = kNoDialog;
    size_t to = kNoDialog;
};

struct StreamOwner {
    double firstPacket = 0;
    size_t dialog = kNoDialog;  // the call whose SDP tells its payload types
    bool attached = false;      // and it is the call's stream (that call answered in time)
    bool fromCaller = false;    // sent by the call's caller
    bool settled = false;       // kMediaLeadSeconds after its first packet: changes only by moves
    // The call it was settled in, before any move.
    size_t firstDialog = kNoDialog;
    bool firstFromCaller = false;
    std::vector<StreamMove> moves;
    uint64_t moveCount = 0;
};

// Brings `owner` up to date for a packet from `source` to `destination` at
// `now`, and counts the packet as its call's activity.
void FollowStream(SipDialogs& dialogs, const Endpoint& source, const Endpoint& destination, double now,
                  StreamOwner& owner);

// What an RTP stream's payload type is, by the call that names its addresses.
enum class PayloadUse {
    kUnsignalled,     // no session description names the addresses
    kG7231,           // mapped to G.723.1
    kTelephoneEvent,  // RFC 4733 events (DTMF)
    kComfortNoise,
    kEncrypted,  // SRTP or another secure profile: never decoded
    kOther,      // another codec, or a type the description does not list
};

// What payload type `payloadType` carries on a stream of `owner` from
// `source` to `destination` (the receiver's description first, then the sender's).
PayloadUse UseOf(const SipDialogs& dialogs, const StreamOwner& owner, const Endpoint& source,
                 const Endpoint& destination, int payloadType);

}  // namespace mervox::media::signalling
