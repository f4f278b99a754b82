#include "stream/stream_stats.h"

namespace mervox::media::stream {

void StreamStats::AddFrame(FrameType type)
{
    ++frames;
    ++byType[static_cast<int>(type)];
    if (IsSpeech(type) && IsRateSwitch(lastSpeechType, type))
        ++rateSwitches;
}

bool IsRateSwitch(int& lastSpeechType, FrameType speech)
{
    const bool switched = lastSpeechType >= 0 && lastSpeechType != static_cast<int>(speech);
    lastSpeechType = static_cast<int>(speech);
    return switched;
}

void StreamStats::AddLost(uint64_t count)
{
    frames += count;
    lostFrames += count;
}

uint64_t StreamStats::SpeechFrames() const
{
    return byType[static_cast<int>(FrameType::kRate6300)] + byType[static_cast<int>(FrameType::kRate5300)];
}

double StreamStats::DurationSeconds() const { return FramesToSeconds(frames); }

double FramesToSeconds(uint64_t frames)
{
    return static_cast<double>(frames) * MERVOX_FRAME_SAMPLES / MERVOX_SAMPLE_RATE;
}

}  // namespace mervox::media::stream
