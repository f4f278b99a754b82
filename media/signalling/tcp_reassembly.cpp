#include "signalling/tcp_reassembly.h"

#include <cstring>

namespace mervox::media::signalling {
namespace {

// The offset of the first line in `text` at or after `from` that is a SIP
// start line, or npos.
size_t NextStartLine(const std::string& text, size_t from)
{
    for (size_t at = from; at < text.size();) {
        if (StartsLikeSip(text.data() + at, text.size() - at))
            return at;
        const size_t newline = text.find('\n', at);
        if (newline == std::string::npos)
            return std::string::npos;
        at = newline + 1;
    }
    return std::string::npos;
}

}  // namespace

bool TcpReassembly::Segment(const Endpoint& source, const Endpoint& destination, const TcpSegmentInfo& segment,
                            double time)
{
    const Key key{source, destination};
    auto found = streams_.find(key);
    const auto* bytes = reinterpret_cast<const char*>(segment.payload.data);
    const size_t size = segment.payload.size;
    if (found == streams_.end()) {
        if (size == 0 || !StartsLikeSip(bytes, size))
            return false;
        if (streams_.size() >= kMaxTcpConnections) {
            ++counters_[SipProblem::kTcpConnectionLimit];
            return true;
        }
        found = streams_.emplace(key, Direction()).first;
        found->second.next = segment.sequence;
    }
    Direction& d = found->second;
    d.last = time;
    if (size > 0) {
        const auto ahead = static_cast<int32_t>(segment.sequence - d.next);
        if (ahead > 0) {
            // Bytes before this segment are missing (lost, or still to come
            // out of order): the message in progress cannot be completed.
            ++counters_[SipProblem::kTcpGaps];
            d.buffer.clear();
            d.resync = true;
            d.next = segment.sequence;
            Append(key, d, bytes, size);
        } else if (static_cast<uint32_t>(-static_cast<int64_t>(ahead)) >= size) {
            ++counters_[SipProblem::kTcpRetransmissions];
        } else {
            const size_t seen = static_cast<size_t>(-static_cast<int64_t>(ahead));
            if (seen > 0)
                ++counters_[SipProblem::kTcpRetransmissions];
            Append(key, d, bytes + seen, size - seen);
        }
    }
    if (segment.fin || segment.reset)
        streams_.erase(found);
    return true;
}

void TcpReassembly::Append(const Key& key, Direction& d, const char* data, size_t size)
{
    d.next += static_cast<uint32_t>(size);
    d.buffer.append(data, size);
    Drain(key, d);
}

void TcpReassembly::Drain(const Key& key, Direction& d)
{
    for (;;) {
        // Keep-alives (empty lines) between messages.
        size_t skip = 0;
        while (skip < d.buffer.size() && (d.buffer[skip] == '\r' || d.buffer[skip] == '\n'))
            ++skip;
        d.buffer.erase(0, skip);
        if (d.buffer.empty())
            return;
        if (d.resync) {
            const size_t start = NextStartLine(d.buffer, 0);
            if (start == std::string::npos) {
                // Keep a possible start line's beginning, not the whole stream.
                const size_t newline = d.buffer.rfind('\n');
                d.buffer.erase(0, newline == std::string::npos ? 0 : newline + 1);
                if (d.buffer.size() > kMaxMessageBytes)
                    d.buffer.clear();
                return;
            }
            d.buffer.erase(0, start);
            d.resync = false;
        }
        SipMessage message;
        size_t consumed = 0;
        switch (ParseSipMessage(d.buffer.data(), d.buffer.size(), false, message, consumed)) {
        case SipParse::kMessage:
            handler_(message, key.first, key.second);
            d.buffer.erase(0, consumed);
            continue;
        case SipParse::kIncomplete:
            if (d.buffer.size() < kMaxMessageBytes)
                return;
            ++counters_[SipProblem::kTooLarge];
            break;
        case SipParse::kTooLarge:
            ++counters_[SipProblem::kTooLarge];
            break;
        case SipParse::kNotSip:
            // An incomplete first line may still become a start line.
            if (d.buffer.find('\n') == std::string::npos && d.buffer.size() < kMaxMessageBytes)
                return;
            ++counters_[SipProblem::kMalformedMessage];
            break;
        case SipParse::kBadLength:
            ++counters_[SipProblem::kMalformedMessage];
            break;
        }
        // What cannot be delimited is dropped up to the next start line.
        const size_t next = NextStartLine(d.buffer, 1);
        if (next == std::string::npos) {
            d.buffer.clear();
            d.resync = true;
            return;
        }
        d.buffer.erase(0, next);
    }
}

void TcpReassembly::Sweep(double now)
{
    for (auto s = streams_.begin(); s != streams_.end();)
        s = s->second.last < now - kTcpIdleSeconds ? streams_.erase(s) : std::next(s);
}

size_t TcpReassembly::bufferedBytes() const
{
    size_t total = 0;
    for (const auto& s : streams_)
        total += s.second.buffer.size();
    return total;
}

}  // namespace mervox::media::signalling
