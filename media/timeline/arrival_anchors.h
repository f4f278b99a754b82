// Where a stream's samples lie against the packets' arrival. A stream's
// decoded samples follow its RTP timeline; in a call's recording they are
// placed on capture time, starting at the stream's first packet, and keep
// their RTP timeline as long as its packets keep arriving as they did.
//
// "As they did" is judged by the lower envelope of the arrivals: the least
// (arrival − RTP time) over the last kEnvelopeSamples of the stream's
// packets, the packets that came through fastest, which a receiver's
// playout clock follows. Delay jitter only ever holds packets back, so it
// moves single packets, not the envelope: however late or early a packet
// is, the stream keeps its timeline and every frame lies once and in order.
// The stream's first kEnvelopeSamples set the envelope it is held against.
// The envelope moves when the sender's clock runs fast or slow, when the
// sender paused without advancing its timestamps, or when it restarted
// (gaps left unfilled, a timestamp jump held to 60 s). Once it has moved by
// more than kMoveSamples and then stayed within kSettleSamples of its new
// value for kEnvelopeSamples of packets, the stream is re-anchored by that
// move: from an anchor on, its samples lie that much later (silence before
// them) or earlier (its samples before the anchor give way).
//
// The anchor goes into a pause, as a receiver's adaptive playout adjusts
// between talkspurts, so that speech is neither cut nor stretched: the first
// pause from where the arrivals began to move that can take it. A pause is a
// run of silence descriptors, untransmitted or lost frames of at least
// kMinPauseSamples (where the stream moves earlier, at least as long as the
// move: the samples that give way are the pause's), or the arrival gap
// where the packets began to come later, when it is at least half the move.
// Only where no such pause comes before the move reaches kForceSamples is
// the anchor put where the move reached it. The decoded audio is not known
// here: a call's recording may bring a re-anchoring forward, whole, into a
// stretch of quiet audio after `earliest` (calls/call_audio.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace mervox::media::timeline {

// In samples of 8 kHz: the envelope's span and the time a move must hold
// (2 s), the move that re-anchors (100 ms), how still the envelope must
// stay meanwhile (20 ms), the move that is applied where it is when no pause
// took it (250 ms), and the shortest pause (60 ms).
constexpr int64_t kEnvelopeSamples = 16000;
constexpr int64_t kMoveSamples = 800;
constexpr int64_t kSettleSamples = 160;
constexpr int64_t kForceSamples = 2000;
constexpr int64_t kMinPauseSamples = 480;
// Re-anchorings a stream may record (24 bytes each); past them it keeps
// its last anchor, so that a hostile stream cannot grow the report.
constexpr size_t kMaxAnchors = 1024;

// From stream sample `sample` on, the stream's samples lie at `at` (and on):
// `at` counts samples of capture time from the stream's first packet.
struct StreamAnchor {
    uint64_t sample = 0;
    int64_t at = 0;
    // Where the arrivals began to move: the re-anchoring may go into a
    // pause of the decoded audio from here up to `sample` instead. The
    // first anchor, and one put where the arrivals moved, have it at `sample`.
    uint64_t earliest = 0;
};

// Fed with the stream's timeline in order (a frame and the arrival of its
// packet, or a run of slots without a frame), keeps the anchors.
class ArrivalAnchors {
public:
    explicit ArrivalAnchors(double firstArrival) : firstArrival_(firstArrival) {}

    // One frame of the packet `packet` (its arrival order) that arrived at
    // `arrival` (capture seconds); `silent`: a silence descriptor or an
    // untransmitted frame. The first placed frame of each packet is held
    // against its arrival.
    void Frame(uint64_t packet, double arrival, bool silent);
    // `frames` slots without a frame (concealed).
    void Lost(uint64_t frames);

    // In order of `sample`, the first one at sample 0: at 0 (the first
    // packet's arrival), or where the packet of the stream's first frame
    // arrived when that was more than kMoveSamples away (the packets before
    // it were dropped, or arrived out of order). Each further one is a
    // re-anchoring.
    const std::vector<StreamAnchor>& anchors() const { return anchors_; }
    uint64_t samples() const { return samples_; }

private:
    // A packet's first frame: its stream sample, and its arrival (samples
    // from the first packet) less that.
    struct Observation {
        uint64_t sample;
        int64_t offset;
    };
    // A run of packets whose offsets all lay more than a threshold above
    // the reference: where it began, and how far that packet's offset lay
    // above the one before it (the arrival gap there, less the timeline's).
    struct Run {
        uint64_t start;
        int64_t step;
    };
    // A move of the envelope away from the reference.
    struct Move {
        int direction;                   // +1: the packets come later than the reference has it; -1: earlier
        int64_t value;                   // the envelope the move is held against
        uint64_t since;                  // since when it has stayed within kSettleSamples of it
        uint64_t onset;                  // where the arrivals began to move
        int64_t onsetStep;               // the offset's step at the onset (Run::step)
        std::optional<uint64_t> forced;  // where it reached kForceSamples
        bool settled;                    // it held long enough
    };
    // Silence descriptors, untransmitted and lost frames: [start, end).
    struct Pause {
        uint64_t start;
        uint64_t end;
    };

    void Observe(uint64_t sample, int64_t offset);
    void Follow(uint64_t sample, int64_t envelope, int64_t offset, int64_t step);
    // Re-anchors the stream by `amount` if the confirmed move has found its place.
    void TryApply(int64_t amount);
    void Apply(uint64_t sample, int64_t amount);
    // The first pause that can take the move, and where in it the anchor goes.
    std::optional<uint64_t> PausePoint(int64_t amount) const;
    void EndPause();

    double firstArrival_;
    std::vector<StreamAnchor> anchors_{StreamAnchor{}};
    uint64_t samples_ = 0;
    bool havePacket_ = false;
    uint64_t lastPacket_ = 0;

    bool observed_ = false;
    int64_t lastOffset_ = 0;
    uint64_t formedAt_ = 0;  // the envelope's first span: it sets the reference
    // The last kEnvelopeSamples' packets, offsets rising (their minima); a
    // vector, not a deque, since a stream has at most a few dozen and a deque
    // costs a block of its own per stream even when nearly empty.
    std::vector<Observation> envelope_;
    int64_t reference_ = 0;        // the envelope the current anchor goes with
    int64_t placed_ = 0;           // the current anchor's offset (at − sample)
    uint64_t lastApplied_ = 0;     // the latest anchor's sample
    std::optional<Run> above_[2];  // offsets above reference + kMoveSamples, + kForceSamples
    std::optional<Move> move_;
    std::vector<Pause> pauses_;           // the recent ones, in order
    std::optional<uint64_t> pauseStart_;  // a pause in progress
};

}  // namespace mervox::media::timeline
