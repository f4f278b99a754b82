#include "quality/jitter_buffer.h"

#include "quality/saturating.h"

namespace mervox::media::quality {

void LossTransitions::Add(const LossTransitions& o)
{
    received += o.received;
    lost += o.lost;
    receivedToLost += o.receivedToLost;
    receivedToReceived += o.receivedToReceived;
    lostToReceived += o.lostToReceived;
    lostToLost += o.lostToLost;
}

double LossTransitions::LossPercent() const
{
    const uint64_t all = received + lost;
    return all ? 100.0 * static_cast<double>(lost) / static_cast<double>(all) : 0.0;
}

double LossTransitions::P() const
{
    const uint64_t from = receivedToLost + receivedToReceived;
    return from ? static_cast<double>(receivedToLost) / static_cast<double>(from) : 0.0;
}

double LossTransitions::Q() const
{
    const uint64_t from = lostToReceived + lostToLost;
    return from ? static_cast<double>(lostToReceived) / static_cast<double>(from) : 0.0;
}

double LossTransitions::BurstRatio() const
{
    const double sum = P() + Q();
    if (lost == 0 || received == 0 || sum <= 0)
        return 1.0;
    return 1.0 / sum;
}

LossTransitions TransitionsOf(const std::vector<bool>& lost)
{
    LossTransitions t;
    for (size_t i = 0; i < lost.size(); ++i) {
        ++(lost[i] ? t.lost : t.received);
        if (i == 0)
            continue;
        if (lost[i - 1])
            ++(lost[i] ? t.lostToLost : t.lostToReceived);
        else
            ++(lost[i] ? t.receivedToLost : t.receivedToReceived);
    }
    return t;
}

FixedJitterBuffer::FixedJitterBuffer(int64_t bufferNs, int clockRate) : bufferNs_(bufferNs)
{
    result_.bufferNs = bufferNs;
    const int64_t rate = clockRate > 0 ? clockRate : 8000;
    if (1000000000 % rate == 0)
        nsPerTick_ = 1000000000 / rate;
    else
        nsPerTickDouble_ = 1e9 / static_cast<double>(rate);
}

size_t FixedJitterBuffer::Slot(int64_t extended)
{
    return static_cast<size_t>(((extended % kWindow) + kWindow) % kWindow);
}

void FixedJitterBuffer::Note(bool lost)
{
    ++(lost ? result_.loss.lost : result_.loss.received);
    if (haveState_) {
        if (lastLost_)
            ++(lost ? result_.loss.lostToLost : result_.loss.lostToReceived);
        else
            ++(lost ? result_.loss.receivedToLost : result_.loss.receivedToReceived);
    }
    haveState_ = true;
    lastLost_ = lost;
}

void FixedJitterBuffer::Judge(int64_t upTo)
{
    for (; judged_ < upTo; ++judged_) {
        const size_t slot = Slot(judged_);
        Note(!played_[slot]);
        played_[slot] = false;
    }
}

void FixedJitterBuffer::NewRun(int64_t extended)
{
    Judge(highest_ + 1);
    haveState_ = false;  // the runs are not neighbours
    highest_ = judged_ = extended;
}

void FixedJitterBuffer::Add(int64_t arrivalNs, uint16_t sequence, uint32_t timestamp, bool timed)
{
    // Played, or too late?
    bool inTime = true;
    if (timed) {
        if (!anchored_) {
            anchored_ = true;
            lastRawTimestamp_ = timestamp;
            timestamp_ = 0;
        } else {
            timestamp_ += static_cast<int32_t>(timestamp - lastRawTimestamp_);
            lastRawTimestamp_ = timestamp;
        }
        const int64_t rtpNs = nsPerTick_ ? SaturatingMul(timestamp_, nsPerTick_)
                                         : SaturatingNs(static_cast<double>(timestamp_) * nsPerTickDouble_);
        const int64_t offset = SaturatingSub(arrivalNs, rtpNs);
        if (!haveAnchor_ || SaturatingSub(offset, anchorNs_) > kResyncNs ||
            SaturatingSub(anchorNs_, offset) > kResyncNs) {
            if (haveAnchor_)
                ++result_.resyncs;
            haveAnchor_ = true;
            anchorNs_ = offset;
        }
        inTime = SaturatingSub(offset, anchorNs_) <= bufferNs_;
        if (!inTime)
            ++result_.late;
    }

    int64_t extended = sequence;
    if (!started_) {
        started_ = true;
        highest_ = judged_ = extended;
    } else {
        extended = highest_ + static_cast<int16_t>(static_cast<uint16_t>(sequence - static_cast<uint16_t>(highest_)));
        if (extended - highest_ >= kSequenceJump || highest_ - extended >= kSequenceJump)
            NewRun(extended);
    }
    if (extended < judged_)
        return;  // judged already (missing by then)
    if (extended > highest_) {
        if (extended - judged_ >= kWindow)
            Judge(extended - kWindow + 1);
        highest_ = extended;
    }
    if (inTime)
        played_[Slot(extended)] = true;
}

JitterBufferResult FixedJitterBuffer::Finish()
{
    if (started_)
        Judge(highest_ + 1);
    started_ = false;
    return result_;
}

}  // namespace mervox::media::quality
