// A call as it closed, with everything its figures, its recording and its
// report need: its dialog and its streams' reports, its own copies. Calls
// are handed on one at a time as they close, so that what a long capture
// holds is the calls open at once, not the calls already done.
#pragma once

#include <cstdint>
#include <vector>

#include "calls/call.h"
#include "signalling/sip_dialogs.h"
#include "timeline/rtp_stream.h"

namespace mervox::media::calls {

// Why a call was closed.
enum class CallClose {
    kEnded,     // its BYE, CANCEL or failed setup, and the grace for trailing media after it
    kIdle,      // no message and no packet for kCallIdleSeconds (its streams went idle)
    kInputEnd,  // the capture ended
    kStopped,   // the reading was stopped (a termination request)
};
const char* CallCloseName(CallClose close);

struct CallRecord {
    CallClose closed = CallClose::kInputEnd;
    // Its dialog is dialogs[0] (call.dialog is 0) when signalled; its
    // streams index `streams`.
    Call call;
    std::vector<signalling::Dialog> dialogs;
    size_t dialogId = signalling::kNoDialog;   // the dialog's number in the capture
    std::vector<timeline::RtpStream> streams;  // in order of their first packet
};

}  // namespace mervox::media::calls
