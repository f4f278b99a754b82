// Captures of a two-way call as a receiver's network delivers it: two
// streams of corpus frames on mirrored addresses (an unsignalled pair, the
// caller's first), one frame a packet, each packet arriving at its sending
// time plus a delay drawn from a seeded generator, the records in arrival
// order (so packets overtake each other as those delays imply). A sender
// may run its clock fast or slow, pause without advancing its timestamps,
// or restart (a new run of sequence numbers, its timestamps jumping).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture_builder.h"

namespace mervox::media::capture::test {

struct JitteredDirection {
    std::string corpus = "speech-a.63.bit";  // its frames, over again as needed
    uint32_t ssrc = 0;
    size_t packets = 0;
    double minDelay = 0, maxDelay = 0;  // seconds, drawn uniformly
    double clock = 1.0;                 // the sender's clock against real time (1.005: 0.5% fast)
    // After packet `pauseAfter` the sender sends nothing for `pauseSeconds`;
    // its timestamps go on from where they were.
    size_t pauseAfter = SIZE_MAX;
    double pauseSeconds = 0;
    // After packet `restartAfter` the sender is down for `restartSeconds`,
    // then numbers its packets 30000 further and stamps them
    // `restartTicks` further than it would have.
    size_t restartAfter = SIZE_MAX;
    double restartSeconds = 0;
    int64_t restartTicks = 0;
};

struct SentPacket {
    double arrival = 0;       // capture seconds
    uint64_t position = 0;    // where its frame lies in the stream's own decode (samples)
    bool afterPause = false;  // the sender had paused or restarted before it
};

struct JitteredCall {
    Bytes pcap;                          // classic pcap, Ethernet
    std::vector<SentPacket> packets[2];  // the caller's and the callee's, in sending order
};

// The caller sends from 10.0.0.1:4000 to 10.0.0.2:5000 from capture time
// 1700000000 s, the callee back from 100 ms later. Positions follow the
// stream's timeline: a restart's timestamps either jump forward by at most
// 60 s (lost frames fill the jump) or back (the timeline goes on).
JitteredCall MakeJitteredCall(const JitteredDirection& caller, const JitteredDirection& callee, uint64_t seed);

}  // namespace mervox::media::capture::test
