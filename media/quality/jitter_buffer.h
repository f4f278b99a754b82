// A modelled receiver: a fixed jitter buffer, and the pattern of packets it
// had to play without (lost on the way, or arrived after their time).
//
// The buffer is anchored at the first packet of the stream: a packet's
// playout time is the first packet's arrival + its RTP time since the
// first packet's (timestamp difference / 8000 Hz) + the buffer's delay. A
// packet that arrives after its playout time is late and counts as lost;
// one that arrives in time is played, whatever the order of arrival. A
// packet more than kResyncNs away from its playout time without the
// buffer's delay (either way: a sender whose clock jumped, a stream that
// paused for long) moves the anchor to itself, as a fixed buffer
// resynchronises, and is played. Packets that carry no audio of their own
// (telephone events, comfort noise) are played whenever they come.
//
// Each sequence number from the first to the highest is then received or
// lost (a duplicate changes nothing); a jump of the sequence number by
// kSequenceJump or more either way starts a new run (a renumbered sender),
// the numbers in between counting neither way.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mervox::media::quality {

constexpr int64_t kDefaultBufferNs = 60'000'000;  // 60 ms
constexpr int64_t kResyncNs = 1'000'000'000;      // 1 s
constexpr int64_t kSequenceJump = 1000;

// Transitions of the two-state (Gilbert) model between received (R) and
// lost (L) packets, in sequence order.
struct LossTransitions {
    uint64_t received = 0;        // packets played
    uint64_t lost = 0;            // sequence numbers not played
    uint64_t receivedToLost = 0;  // R then L
    uint64_t receivedToReceived = 0;
    uint64_t lostToReceived = 0;
    uint64_t lostToLost = 0;

    void Add(const LossTransitions& o);
    // Loss probability in percent (Ppl); 0 without packets.
    double LossPercent() const;
    // p = P(L | R before), q = P(R | L before); and the burst ratio
    // 1 / (p + q): 1 for random loss, above 1 for losses in bursts. 1
    // where it is not defined (no loss, or nothing received).
    double P() const;
    double Q() const;
    double BurstRatio() const;
};

// Builds the transitions from a sequence of states (true: lost): for tests
// and for streams known as a whole.
LossTransitions TransitionsOf(const std::vector<bool>& lost);

struct JitterBufferResult {
    int64_t bufferNs = kDefaultBufferNs;
    uint64_t late = 0;     // arrived after their playout time (lost to the listener)
    uint64_t resyncs = 0;  // anchor moved
    LossTransitions loss;
};

class FixedJitterBuffer {
public:
    explicit FixedJitterBuffer(int64_t bufferNs = kDefaultBufferNs, int clockRate = 8000);
    // The next packet in arrival order. `timed`: it carries audio that must
    // be in time to be played.
    void Add(int64_t arrivalNs, uint16_t sequence, uint32_t timestamp, bool timed = true);
    JitterBufferResult Finish();

private:
    static constexpr int64_t kWindow = 1024;  // sequence numbers held before they are judged
    void Judge(int64_t upTo);                 // judges every number below upTo
    void NewRun(int64_t extended);
    void Note(bool lost);
    static size_t Slot(int64_t extended);

    int64_t bufferNs_;
    int64_t nsPerTick_ = 0;  // 0: clock rates that are no divisor of 1e9, as a double below
    double nsPerTickDouble_ = 0;
    JitterBufferResult result_;
    // Playout.
    bool anchored_ = false;  // a timed packet has come
    bool haveAnchor_ = false;
    int64_t anchorNs_ = 0;   // arrival minus RTP time of the anchor packet
    int64_t timestamp_ = 0;  // the last timed packet's timestamp, unwrapped, from the first one's
    uint32_t lastRawTimestamp_ = 0;
    // Sequence numbers.
    bool started_ = false;
    int64_t highest_ = 0;
    int64_t judged_ = 0;           // every number below this one has been judged
    std::bitset<kWindow> played_;  // by Slot(): set when the number was played in time
    bool haveState_ = false;
    bool lastLost_ = false;
};

}  // namespace mervox::media::quality
