// SIP over TCP: each direction of a connection is a byte stream that
// carries messages one after another, a message split across segments or
// several in one segment. A direction is followed from its first segment
// that begins with a SIP start line; its bytes are put back together by
// sequence number and cut into messages by Content-Length. Data that is
// missing or out of order drops the message in progress; reading resumes at
// the next start line.
//
// Memory is bounded without refusing anyone: at most TcpLimits::directions
// directions are followed (a new one makes room by forgetting the one idle
// longest), each buffers at most one message (kMaxMessageBytes), and all of
// them together at most TcpLimits::bufferedBytes (beyond, the message in
// progress of the direction idle longest is dropped). A direction that lost
// its place or its message resumes at its next start line, so that a flood
// of connections costs a real one at most the message it was sending.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
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

// Directions of TCP connections followed at once (each connection has two).
constexpr size_t kMaxTcpDirections = 4096;
// Bytes of unfinished messages buffered by all directions together: room
// for 256 messages of the largest size at once.
constexpr size_t kMaxTcpBufferedBytes = 256 * kMaxMessageBytes;
// A direction without a segment for this long (capture time) is forgotten.
constexpr double kTcpIdleSeconds = 600;
// A segment further than this from the sequence number expected (either
// way) is no part of the stream as followed: a spoofed segment, or the
// connection's numbering started over. It is ignored unless it begins
// with a start line, where reading then resumes.
constexpr uint32_t kTcpWindowBytes = uint32_t{1} << 30;

struct TcpLimits {
    size_t directions = kMaxTcpDirections;
    size_t bufferedBytes = kMaxTcpBufferedBytes;
};

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

    TcpReassembly(SignallingCounters& counters, MessageHandler handler, TcpLimits limits = {})
        : counters_(counters), handler_(std::move(handler)), limits_(limits)
    {}

    // One segment; false when it belongs to no SIP connection (and does not start one).
    bool Segment(const Endpoint& source, const Endpoint& destination, const TcpSegmentInfo& segment, double time);
    // Forgets directions idle since before `now` - kTcpIdleSeconds.
    void Sweep(double now);
    size_t directions() const { return streams_.size(); }
    size_t bufferedBytes() const { return buffered_; }
    // Bytes looked at to find where messages end: each byte a few times,
    // however the stream is cut into segments.
    uint64_t examinedBytes() const { return examined_; }

private:
    using Key = std::pair<Endpoint, Endpoint>;
    struct Direction {
        uint32_t next = 0;  // sequence number of the next byte expected
        std::string buffer;
        bool resync = false;    // looking for a start line after lost data
        bool skipLine = false;  // (resync) the line at the front is too long for a start line: skip to its end
        double last = 0;
        // Of the message (or, in resync, the line) at the buffer's front:
        size_t scanned = 0;                  // bytes searched for line ends so far
        size_t line = 0;                     // where its line not yet whole starts
        size_t needed = 0;                   // its whole length, once its headers are all there
        size_t held = 0;                     // bytes of memory counted in bufferedBytes()
        std::list<Key>::iterator seen;       // its place in seen_
        std::list<Key>::iterator buffering;  // its place in buffering_, while it holds bytes
    };
    using Map = std::map<Key, Direction>;

    void Append(const Key& key, Direction& d, const char* data, size_t size);
    void Drain(const Key& key, Direction& d);
    bool Ready(Direction& d, size_t at);
    bool FindStartLine(Direction& d, size_t& at);
    static void Drop(Direction& d);
    void Forget(Map::iterator found);
    void Account(Map::iterator found);
    void MakeRoom(const Key& keep);

    SignallingCounters& counters_;
    MessageHandler handler_;
    TcpLimits limits_;
    Map streams_;
    std::list<Key> seen_;       // every direction, the one idle longest first
    std::list<Key> buffering_;  // directions with a message in progress, the one idle longest first
    size_t buffered_ = 0;
    uint64_t examined_ = 0;
};

}  // namespace mervox::media::signalling
