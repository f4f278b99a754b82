#include "packets/telephone_event.h"

#include <algorithm>

namespace mervox::media::packets {

char DtmfDigit(int code)
{
    static const char kKeys[] = "0123456789*#ABCD!";
    return code >= 0 && code <= 16 ? kKeys[code] : 0;
}

bool TelephoneEvents::Add(net::ByteView payload, uint32_t timestamp, double arrival)
{
    // event (8 bits), end (1), reserved (1), volume (6), duration (16).
    if (!payload.Has(0, 4))
        return false;
    const char digit = DtmfDigit(payload.U8(0));
    const uint32_t duration = payload.U16(2);
    if (haveLast_ && timestamp == lastTimestamp_) {
        if (!events_.empty() && digit == events_.back().digit)
            events_.back().duration = std::max(events_.back().duration, duration);
        return true;
    }
    haveLast_ = true;
    lastTimestamp_ = timestamp;
    if (!digit || events_.size() >= kMaxEventsPerStream) {
        ++dropped_;
        return true;
    }
    events_.push_back({arrival, digit, duration});
    return true;
}

}  // namespace mervox::media::packets
