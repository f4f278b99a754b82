// A call of a capture: which streams belong to it, who sent each one, and
// when it began and ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mervox::media::calls {

// A call: a SIP dialog with the streams its session descriptions name, or
// (without signalling) two streams that mirror each other's addresses, or
// one stream alone.
struct CallStream {
    size_t stream = 0;        // index into CaptureReport::streams
    bool fromCaller = false;  // sent by the caller (the INVITE's sender; unsignalled: the stream seen first)
};

struct Call {
    bool signalled = false;
    size_t dialog = 0;  // index into CaptureReport::dialogs when signalled
    std::vector<CallStream> streams;
    double start = 0;     // the INVITE (or first message), else the first packet
    double end = 0;       // BYE, CANCEL or failure; else the last packet of its signalling or streams
    uint64_t serial = 0;  // calls count from 0 in the order they closed
};

}  // namespace mervox::media::calls
