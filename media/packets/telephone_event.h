// RFC 4733 telephone events carried beside a call's audio: the key pressed
// (DTMF digits 0-9, *, #, A-D; flash) and how long. A sender repeats an
// event's packets with the same RTP timestamp while the key is held and
// sends its end three times: one event per timestamp.
#pragma once

#include <cstdint>
#include <vector>

#include "net/byte_view.h"

namespace mervox::media::packets {

// Events kept per stream; further ones are counted, not listed.
constexpr size_t kMaxEventsPerStream = 1000;

struct DtmfEvent {
    double time = 0;        // capture time of its first packet
    char digit = '?';       // '0'-'9', '*', '#', 'A'-'D', '!' (flash)
    uint32_t duration = 0;  // in RTP timestamp units (8 kHz: 1/8 ms)
};

// Follows one stream's telephone-event packets.
class TelephoneEvents {
public:
    // One packet's payload; false when it is no event packet (under 4 bytes).
    bool Add(net::ByteView payload, uint32_t timestamp, double arrival);
    const std::vector<DtmfEvent>& events() const { return events_; }
    uint64_t dropped() const { return dropped_; }

private:
    std::vector<DtmfEvent> events_;
    bool haveLast_ = false;
    uint32_t lastTimestamp_ = 0;
    uint64_t dropped_ = 0;  // events beyond kMaxEventsPerStream, or of no key
};

// The key of event code `code` (0-16), or 0 for other events.
char DtmfDigit(int code);

}  // namespace mervox::media::packets
