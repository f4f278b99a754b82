// SIP over TCP: each direction of a connection is a byte stream that
// carries messages one after another, a message split across segments or
// several in one segment. A connection is followed from its first segment
// that begins with a SIP start line; its bytes are put back together by
// sequence number and cut into messages by Content-Length. Memory is
// bounded: at most kMaxTcpConnections directions, each buffering at most
// one message (kMaxMessageBytes). Data that is missing or out of order
// drops the message in progress; reading resumes at the next start line.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "net/byte_view.h"
#include "net/endpoint.h"
#include "signalling/signalling_counts.h"
#include "signalling/sip_message.h"

namespace mervox::media::signalling {

using net::ByteView;
using net::Endpoint;

constexpr size_t kMaxTcpConnections = 256;
// A direction without a segment for this long (capture time) is forgotten.
constexpr double kTcpIdleSeconds = 600;

struct TcpSegmentInfo {
    uint32_t sequence = 0;
    bool syn = false;
    bool fin = false;
    bool reset = false;
    ByteView payload;
};

class TcpReassembly {
public:
    using MessageHandler = std::function<void(const SipMessage&, const Endpoint& source, const Endpoint& destination)>;

    TcpReassembly(SignallingCounters& counters, MessageHandler handler)
        : counters_(counters), handler_(std::move(handler))
    {}

    // One segment; false when it belongs to no SIP connection (and does not start one).
    bool Segment(const Endpoint& source, const Endpoint& destination, const TcpSegmentInfo& segment, double time);
    // Forgets directions idle since before `now` - kTcpIdleSeconds.
    void Sweep(double now);
    size_t connections() const { return streams_.size(); }
    size_t bufferedBytes() const;

private:
    struct Direction {
        uint32_t next = 0;  // sequence number of the next byte expected
        std::string buffer;
        bool resync = false;  // looking for a start line after lost data
        double last = 0;
    };
    using Key = std::pair<Endpoint, Endpoint>;

    void Append(const Key& key, Direction& d, const char* data, size_t size);
    void Drain(const Key& key, Direction& d);

    SignallingCounters& counters_;
    MessageHandler handler_;
    std::map<Key, Direction> streams_;
};

}  // namespace mervox::media::signalling
