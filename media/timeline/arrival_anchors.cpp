#include "timeline/arrival_anchors.h"

#include <algorithm>
#include <cmath>

#include "timeline/stream_timeline.h"

namespace mervox::media::timeline {
namespace {

// Pauses kept for a move to find: those since where a move may have
// begun (two envelope spans back), at most this many (one per three frames
// over that span; more only while a move waits, and then the oldest go).
constexpr size_t kMaxPauses = 256;

int64_t Magnitude(int64_t v) { return v < 0 ? -v : v; }

}  // namespace

void ArrivalAnchors::Frame(uint64_t packet, double arrival, bool silent)
{
    if (!havePacket_ || packet != lastPacket_) {
        havePacket_ = true;
        lastPacket_ = packet;
        // Capture times are finite (they come from integers); bounded here
        // so that a capture whose clock jumps by years stays in range.
        const double offset = std::fmax(-1e12, std::fmin(1e12, (arrival - firstArrival_) * 8000.0));
        const auto arrived = static_cast<int64_t>(std::llround(offset));
        if (samples_ == 0 && (arrived > kMoveSamples || arrived < -kMoveSamples)) {
            // The first frame came long after the first packet.
            anchors_.front().at = arrived;
            placed_ = arrived;
        }
        Observe(samples_, arrived - static_cast<int64_t>(samples_));
    }
    if (silent) {
        if (!pauseStart_)
            pauseStart_ = samples_;
    } else {
        EndPause();
    }
    samples_ += kTicksPerFrame;
}

void ArrivalAnchors::Lost(uint64_t frames)
{
    if (!pauseStart_)
        pauseStart_ = samples_;
    samples_ += frames * kTicksPerFrame;
}

void ArrivalAnchors::EndPause()
{
    if (!pauseStart_)
        return;
    // Shorter ones take no move.
    if (samples_ - *pauseStart_ >= static_cast<uint64_t>(kMinPauseSamples)) {
        pauses_.push_back({*pauseStart_, samples_});
        if (pauses_.size() > kMaxPauses)
            pauses_.erase(pauses_.begin());
    }
    pauseStart_.reset();
}

void ArrivalAnchors::Observe(uint64_t sample, int64_t offset)
{
    const int64_t step = observed_ ? offset - lastOffset_ : 0;
    lastOffset_ = offset;
    if (!observed_) {
        observed_ = true;
        formedAt_ = sample + kEnvelopeSamples;
    }
    // The envelope: the packets of the last span that no later packet
    // undercuts, so that the first is the least.
    while (!envelope_.empty() && envelope_.back().offset >= offset)
        envelope_.pop_back();
    envelope_.push_back({sample, offset});
    while (envelope_.front().sample + kEnvelopeSamples <= sample)
        envelope_.erase(envelope_.begin());
    const int64_t envelope = envelope_.front().offset;
    if (sample < formedAt_) {
        // The first span sets the reference: jitter within it is no move.
        reference_ = envelope;
        return;
    }
    const uint64_t keep = move_ ? move_->onset : sample - std::min<uint64_t>(sample, 2 * kEnvelopeSamples);
    while (!pauses_.empty() && pauses_.front().end < keep)
        pauses_.erase(pauses_.begin());
    Follow(sample, envelope, offset, step);
}

void ArrivalAnchors::Follow(uint64_t sample, int64_t envelope, int64_t offset, int64_t step)
{
    // Runs of packets above the reference: where the envelope rises, the
    // arrivals moved where the run began (the envelope lags by its span).
    const int64_t heights[2] = {kMoveSamples, kForceSamples};
    for (int i = 0; i < 2; ++i) {
        if (offset <= reference_ + heights[i])
            above_[i].reset();
        else if (!above_[i])
            above_[i] = Run{sample, step};
    }
    const int64_t drift = envelope - reference_;
    const int direction = drift > kMoveSamples ? 1 : drift < -kMoveSamples ? -1 : 0;
    if (move_ && move_->direction != direction)
        move_.reset();  // it came back, or turned
    if (direction == 0)
        return;
    if (!move_) {
        // Falling, the envelope moves with the packet that undercuts it.
        Move m{direction, envelope, sample, sample, step, std::nullopt, false};
        if (direction > 0) {
            m.onset = above_[0]->start;  // every packet of the span lies above
            m.onsetStep = above_[0]->step;
        }
        m.onset = std::max(m.onset, lastApplied_ + 1);
        move_ = m;
    } else if (!move_->settled && Magnitude(envelope - move_->value) > kSettleSamples) {
        move_->value = envelope;
        move_->since = sample;
    }
    if (!move_->forced && Magnitude(drift) >= kForceSamples)
        move_->forced = std::max(direction > 0 ? above_[1]->start : sample, move_->onset);
    if (!move_->settled && sample - move_->since >= static_cast<uint64_t>(kEnvelopeSamples))
        move_->settled = true;
    if (move_->settled)
        TryApply(drift);
}

std::optional<uint64_t> ArrivalAnchors::PausePoint(int64_t amount) const
{
    const uint64_t onset = move_->onset;
    // Moving earlier drops the samples before the anchor: they must be the pause's.
    const auto need = static_cast<uint64_t>(std::max(kMinPauseSamples, amount < 0 ? -amount : 0));
    const auto place = [&](uint64_t start, uint64_t end) -> std::optional<uint64_t> {
        if (end < onset || end - start < need)
            return std::nullopt;
        const uint64_t point = amount > 0 ? std::max(start, onset) : std::max(start + need, onset);
        if (point > end)
            return std::nullopt;
        return point;
    };
    for (const Pause& p : pauses_)
        if (const auto point = place(p.start, p.end))
            return point;
    if (pauseStart_)
        return place(*pauseStart_, samples_);
    return std::nullopt;
}

void ArrivalAnchors::TryApply(int64_t amount)
{
    const Move& m = *move_;
    std::optional<uint64_t> point;
    if (m.direction > 0 && m.onsetStep >= std::max(kMinPauseSamples, amount / 2))
        point = m.onset;  // the packets stopped coming there: the sender paused
    else
        point = PausePoint(amount);
    if (m.forced && (!point || *point > *m.forced))
        point = m.forced;
    if (point)
        Apply(*point, amount);
}

void ArrivalAnchors::Apply(uint64_t sample, int64_t amount)
{
    const Move& m = *move_;
    StreamAnchor a;
    a.sample = sample;
    a.earliest = m.onset;
    placed_ += amount;
    reference_ += amount;
    a.at = static_cast<int64_t>(sample) + placed_;
    if (anchors_.size() <= kMaxAnchors)
        anchors_.push_back(a);
    lastApplied_ = sample;
    move_.reset();
    above_[0].reset();
    above_[1].reset();
    while (!pauses_.empty() && pauses_.front().end <= sample)
        pauses_.erase(pauses_.begin());
}

}  // namespace mervox::media::timeline
