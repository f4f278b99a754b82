// The signalling of a capture: SIP messages from UDP datagrams (any port:
// recognised by their start line) and TCP connections, read into calls
// (sip_dialogs.h). It also tells which call an RTP stream belongs to and
// what its payload type carries by that call's session descriptions
// (stream_owner.h), so that a dynamic payload type mapped to G723/8000 is
// decoded without --payload-type, and encrypted media is never decoded. SIP
// in fragmented datagrams arrives here whole (packets/ip_reassembly.h).
#pragma once

#include <memory>

#include "signalling/sip_dialogs.h"
#include "signalling/stream_owner.h"
#include "signalling/tcp_reassembly.h"

namespace mervox::media::signalling {

class SipReader {
public:
    explicit SipReader(TcpLimits tcpLimits = {});

    // A UDP payload; false when it does not start like SIP (then nothing is taken).
    bool Datagram(const Endpoint& source, const Endpoint& destination, ByteView payload, double time);
    // A TCP segment; false when it belongs to no SIP connection and starts none.
    bool Segment(const Endpoint& source, const Endpoint& destination, const TcpSegmentInfo& segment, double time);
    // A message already delimited (the datagram and stream paths end here).
    void Message(const SipMessage& message, const Endpoint& source, const Endpoint& destination, double time);

    // Brings a stream's call up to date for its packet at `time`
    // (stream_owner.h), and tells what its payload type carries.
    void Follow(const Endpoint& source, const Endpoint& destination, double time, StreamOwner& owner)
    {
        FollowStream(dialogs_, source, destination, time, owner);
    }
    PayloadUse Use(const StreamOwner& owner, const Endpoint& source, const Endpoint& destination, int payloadType) const
    {
        return UseOf(dialogs_, owner, source, destination, payloadType);
    }
    bool HasMedia() const { return dialogs_.HasMedia(); }

    // Closes idle calls and forgets idle connections.
    void Sweep(double now);

    // The SIP calls held (sip_dialogs.h): by number, while held.
    const SipDialogs& dialogs() const { return dialogs_; }
    SipDialogs& dialogs() { return dialogs_; }
    const SignallingCounters& counters() const { return counters_; }
    size_t tcpDirections() const { return tcp_.directions(); }
    size_t bufferedBytes() const { return tcp_.bufferedBytes(); }
    size_t openDialogs() const { return dialogs_.open(); }
    uint64_t indexSteps() const { return dialogs_.indexSteps(); }

private:
    SignallingCounters counters_;
    SipDialogs dialogs_;
    TcpReassembly tcp_;
    double now_ = 0;
};

}  // namespace mervox::media::signalling
