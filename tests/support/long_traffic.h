// Days of VoIP traffic as a recorder on a network sees it, made packet by
// packet in capture-time order as it is read, holding only the calls open at
// once: SIP calls over UDP (INVITE with SDP, 100, 180, 200 with SDP, ACK, two
// G.723.1 RTP streams, BYE and its 200; some BYEs lost), calls of plain RTP
// both ways without signalling, and other traffic between them (DNS, TCP, UDP
// that is not RTP). Each call has addresses of its own (10.x.y.z) and random
// SSRCs, sequence numbers and timestamps; its frames are real ones from the
// corpus, one per packet every 30 ms. Part of each stream's time may be
// silence as discontinuous transmission sends it: a silence-descriptor frame,
// then no packets while the timestamps go on. The same options and seed give
// the same capture on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture_builder.h"

namespace mervox::media::capture::test {

// Capture time 0: 2026-01-05T00:00:00Z.
constexpr uint32_t kLongTrafficFirstSecond = 1767571200;

struct LongTrafficOptions {
    double hours = 168;
    uint64_t calls = 100000;  // call starts are spread over the capture so that all end within it
    double minCallSeconds = 60, maxCallSeconds = 600;
    size_t maxOpenCalls = 300;  // a call due while this many are open starts when one closes
    uint64_t seed = 1;
    double unsignalledShare = 0.1;  // calls of RTP only
    double byeLostShare = 0.1;      // signalled calls whose BYE (and its answer) never comes
    double speechShare = 1.0;       // of a stream's time, the part sent as speech packets
    double junkPerSecond = 5;       // packets that belong to no call
};

// The frames streams send: speech frames of a few corpus streams (each
// stream cycles through one of them from a random place) and the corpus'
// silence-descriptor frames.
struct LongTrafficFrames {
    std::vector<std::vector<Bytes>> speech;
    std::vector<Bytes> silence;
};
// From a corpus folder (tests/data/corpus); throws std::runtime_error when
// a file is missing.
LongTrafficFrames LoadLongTrafficFrames(const std::string& corpusDir);

// A call as the generator made it, for matching a recorder's output.
struct LongTrafficCall {
    uint64_t index = 0;
    double start = 0, end = 0;  // capture seconds: the first packet (INVITE or RTP), and the BYE or last RTP
    bool signalled = false;
    bool bye = false;
    std::string callId;            // empty without signalling
    std::string fromUser, toUser;  // the SIP From and To users
    std::string caller, callee;    // each party's RTP address, "10.1.2.3:40000"
};
// One tab-separated line (no newline) under the header's column names.
std::string LongTrafficCallLine(const LongTrafficCall& call);
std::string LongTrafficCallHeader();

class LongTraffic {
public:
    // Throws std::invalid_argument when the calls cannot fit the capture.
    LongTraffic(const LongTrafficOptions& options, const LongTrafficFrames& frames);
    ~LongTraffic();
    LongTraffic(const LongTraffic&) = delete;
    LongTraffic& operator=(const LongTraffic&) = delete;

    // Makes the next packet; false when the capture is over.
    bool Next();
    // The packet Next made (an Ethernet frame) and its capture time in
    // microseconds from kLongTrafficFirstSecond.
    const Bytes& packet() const;
    int64_t micros() const;
    // The calls that closed since the packet before (a closed call's
    // packets all came before); after the last packet, when Next returns
    // false, the calls that closed after it.
    const std::vector<LongTrafficCall>& endedCalls() const;
    size_t openCalls() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace mervox::media::capture::test
