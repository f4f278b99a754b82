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

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

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
        if (streams_.size() >= limits_.directions && !seen_.empty()) {
            // Room for the newcomer: the direction idle longest is forgotten
            // and read again from its next segment that starts a message.
            ++counters_[SipProblem::kTcpEvicted];
            Forget(streams_.find(seen_.front()));
        }
        found = streams_.emplace(key, Direction()).first;
        found->second.next = segment.sequence;
        found->second.seen = seen_.insert(seen_.end(), key);
    } else {
        seen_.splice(seen_.end(), seen_, found->second.seen);
    }
    Direction& d = found->second;
    d.last = time;
    if (size > 0) {
        const uint32_t ahead = segment.sequence - d.next;
        const uint32_t behind = d.next - segment.sequence;
        if (ahead > kTcpWindowBytes && behind > kTcpWindowBytes) {
            ++counters_[SipProblem::kTcpOutOfWindow];
            if (StartsLikeSip(bytes, size)) {
                Drop(d);
                d.resync = false;
                d.next = segment.sequence;
                Append(key, d, bytes, size);
            }
        } else if (ahead != 0 && ahead <= kTcpWindowBytes) {
            // Bytes before this segment are missing (lost, or still to come
            // out of order): the message in progress cannot be completed.
            ++counters_[SipProblem::kTcpGaps];
            Drop(d);
            d.next = segment.sequence;
            Append(key, d, bytes, size);
        } else if (behind >= size) {
            ++counters_[SipProblem::kTcpRetransmissions];
        } else {
            if (behind > 0)
                ++counters_[SipProblem::kTcpRetransmissions];
            Append(key, d, bytes + behind, size - behind);
        }
    }
    if (segment.fin || segment.reset) {
        Forget(found);
        return true;
    }
    Account(found);
    MakeRoom(found->first);
    return true;
}

void TcpReassembly::Append(const Key& key, Direction& d, const char* data, size_t size)
{
    d.next += static_cast<uint32_t>(size);
    d.buffer.append(data, size);
    Drain(key, d);
}

// The buffer's front is where the message in progress starts; only what
// arrived since the last look is searched for the line ends that matter,
// and the message is parsed only when one of them may have made it whole.
void TcpReassembly::Drain(const Key& key, Direction& d)
{
    const std::string& b = d.buffer;
    size_t at = 0;  // the bytes before are done with
    for (;;) {
        // Keep-alives (empty lines) between messages.
        if (d.scanned == 0 && !d.skipLine)
            while (at < b.size() && IsLineEnd(b[at]))
                ++at;
        if (at == b.size())
            break;
        if (d.resync && !FindStartLine(d, at))
            break;
        if (!Ready(d, at))
            break;
        SipMessage message;
        size_t consumed = 0;
        const size_t have = b.size() - at;
        examined_ += have;
        const SipParse parsed = ParseSipMessage(b.data() + at, have, false, message, consumed);
        if (parsed == SipParse::kMessage) {
            handler_(message, key.first, key.second);
            at += consumed;
            d.scanned = d.line = d.needed = 0;
            continue;
        }
        if (parsed == SipParse::kIncomplete && have < kMaxMessageBytes) {
            d.needed = consumed;
            break;
        }
        // An incomplete first line may still become a start line.
        if (parsed == SipParse::kNotSip && b.find('\n', at) == std::string::npos && have < kMaxMessageBytes)
            break;
        ++counters_[parsed == SipParse::kIncomplete || parsed == SipParse::kTooLarge ? SipProblem::kTooLarge
                                                                                     : SipProblem::kMalformedMessage];
        // What cannot be delimited is dropped up to the next start line.
        d.scanned = d.line = d.needed = 0;
        const size_t next = NextStartLine(b, at + 1);
        examined_ += (next == std::string::npos ? b.size() : next) - at;
        if (next == std::string::npos) {
            at = b.size();
            d.resync = true;
            break;
        }
        at = next;
    }
    d.buffer.erase(0, at);
}

// Whether the message at `at` may now be judged: its start line or its
// headers became whole, its body is all there, or it reached the bound.
bool TcpReassembly::Ready(Direction& d, size_t at)
{
    const std::string& b = d.buffer;
    const size_t have = b.size() - at;
    if (have >= kMaxMessageBytes)
        return true;
    if (d.needed > 0)
        return have >= d.needed;
    while (d.scanned < have) {
        const char* from = b.data() + at + d.scanned;
        const void* newline = std::memchr(from, '\n', have - d.scanned);
        if (!newline) {
            examined_ += have - d.scanned;
            d.scanned = have;
            return false;
        }
        const size_t end = static_cast<size_t>(static_cast<const char*>(newline) - (b.data() + at));
        examined_ += end + 1 - d.scanned;
        const size_t start = d.line;
        d.line = d.scanned = end + 1;
        // The start line, or the empty line that ends the headers.
        if (start == 0 || end == start || (end == start + 1 && b[at + start] == '\r'))
            return true;
    }
    return false;
}

// After lost data: passes over whole lines at `at` up to the first that is
// a start line (true) or to a line not yet whole (false; it stays, unless
// it is already too long for a start line).
bool TcpReassembly::FindStartLine(Direction& d, size_t& at)
{
    const std::string& b = d.buffer;
    while (at < b.size()) {
        const char* from = b.data() + at + d.scanned;
        const void* newline = std::memchr(from, '\n', b.size() - at - d.scanned);
        if (!newline) {
            examined_ += b.size() - at - d.scanned;
            d.scanned = b.size() - at;
            if (d.scanned > kMaxStartLineBytes) {
                at = b.size();
                d.scanned = 0;
                d.skipLine = true;
            }
            return false;
        }
        const size_t end = static_cast<size_t>(static_cast<const char*>(newline) - b.data()) + 1;
        examined_ += end - at - d.scanned;
        if (!d.skipLine) {
            examined_ += std::min(end - at, kMaxStartLineBytes);
            if (StartsLikeSip(b.data() + at, end - at)) {
                d.resync = false;
                d.scanned = 0;
                return true;
            }
        }
        d.skipLine = false;
        d.scanned = 0;
        at = end;
    }
    return false;
}

void TcpReassembly::Drop(Direction& d)
{
    d.buffer.clear();
    d.resync = true;
    d.skipLine = false;
    d.scanned = d.line = d.needed = 0;
}

void TcpReassembly::Forget(Map::iterator found)
{
    Direction& d = found->second;
    buffered_ -= d.held;
    seen_.erase(d.seen);
    if (d.held > 0)
        buffering_.erase(d.buffering);
    streams_.erase(found);
}

// Counts what the direction holds now, and keeps it among the buffering
// ones (as the one seen last) while it holds anything.
void TcpReassembly::Account(Map::iterator found)
{
    Direction& d = found->second;
    if (d.buffer.empty())
        std::string().swap(d.buffer);  // gives the memory back
    else if (d.buffer.capacity() > 2 * d.buffer.size() + 4096)
        d.buffer.shrink_to_fit();
    const size_t held = d.buffer.empty() ? 0 : d.buffer.capacity();
    if (d.held > 0 && held == 0)
        buffering_.erase(d.buffering);
    else if (d.held == 0 && held > 0)
        d.buffering = buffering_.insert(buffering_.end(), found->first);
    else if (held > 0)
        buffering_.splice(buffering_.end(), buffering_, d.buffering);
    buffered_ = buffered_ - d.held + held;
    d.held = held;
}

// Beyond the bound on bytes buffered, the directions idle longest lose the
// message in progress (the one `keep` last of all) and resume at their
// next start line.
void TcpReassembly::MakeRoom(const Key& keep)
{
    while (buffered_ > limits_.bufferedBytes && !buffering_.empty()) {
        auto victim = buffering_.begin();
        if (*victim == keep && buffering_.size() > 1)
            ++victim;
        const auto found = streams_.find(*victim);
        ++counters_[SipProblem::kTcpEvicted];
        Drop(found->second);
        Account(found);
    }
}

void TcpReassembly::Sweep(double now)
{
    for (auto s = streams_.begin(); s != streams_.end();) {
        const auto current = s++;
        if (current->second.last < now - kTcpIdleSeconds)
            Forget(current);
    }
}

}  // namespace mervox::media::signalling
