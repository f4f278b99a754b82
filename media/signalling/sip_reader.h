// The signalling of a capture: SIP messages from UDP datagrams (any port:
// recognised by their start line) and TCP connections, read into calls
// (sip_dialogs.h). It also answers, for an RTP packet, what its payload
// type carries by the session descriptions that name its addresses, so
// that a dynamic payload type mapped to G723/8000 is decoded without
// --payload-type, and encrypted media is never decoded. SIP in IP
// fragments is not reassembled (the fragments are counted as such).
#pragma once

#include <memory>

#include "signalling/sip_dialogs.h"
#include "signalling/tcp_reassembly.h"

namespace mervox::media::signalling {

// What an RTP packet's payload type is, by the call that names its addresses.
enum class PayloadUse {
    kUnsignalled,     // no session description names the addresses
    kG7231,           // mapped to G.723.1
    kTelephoneEvent,  // RFC 4733 events (DTMF)
    kComfortNoise,
    kEncrypted,  // SRTP or another secure profile: never decoded
    kOther,      // another codec, or a type the description does not list
};

class SipReader {
public:
    SipReader();

    // A UDP payload; false when it does not start like SIP (then nothing is taken).
    bool Datagram(const Endpoint& source, const Endpoint& destination, ByteView payload, double time);
    // A TCP segment; false when it belongs to no SIP connection and starts none.
    bool Segment(const Endpoint& source, const Endpoint& destination, const TcpSegmentInfo& segment, double time);
    // A message already delimited (the datagram and stream paths end here).
    void Message(const SipMessage& message, const Endpoint& source, const Endpoint& destination, double time);

    // What payload type `payloadType` of a packet from `source` to
    // `destination` carries (the receiver's description first, then the sender's).
    PayloadUse Use(const Endpoint& source, const Endpoint& destination, int payloadType) const;
    bool HasMedia() const { return dialogs_.HasMedia(); }

    // Closes idle calls and forgets idle connections.
    void Sweep(double now);

    const std::vector<Dialog>& dialogs() const { return dialogs_.dialogs(); }
    const SignallingCounters& counters() const { return counters_; }
    size_t connections() const { return tcp_.connections(); }
    size_t bufferedBytes() const { return tcp_.bufferedBytes(); }
    size_t openDialogs() const { return dialogs_.open(); }

private:
    SignallingCounters counters_;
    SipDialogs dialogs_;
    TcpReassembly tcp_;
    double now_ = 0;
};

}  // namespace mervox::media::signalling
