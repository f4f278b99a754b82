// What one stream held, counted frame by frame as it is read or decoded:
// frames by type, frames decoded as lost, switches between the two rates
// and the duration. Used by `mervox info`, `mervox decode` and the capture
// reader alike.
#pragma once

#include <cstdint>

#include "stream/frames.h"

namespace mervox::media::stream {

struct StreamStats {
    uint64_t frames = 0;                // every frame slot of the output, lost ones included
    uint64_t byType[kFrameTypes] = {};  // frames present, by type
    uint64_t lostFrames = 0;            // slots with no frame at all (missing packets)
    uint64_t rateSwitches = 0;          // 6.3 <-> 5.3 changes between consecutive speech frames
    int lastSpeechType = -1;            // type of the last speech frame, -1 before the first

    // One frame present in the stream.
    void AddFrame(FrameType type);
    // `count` frame slots with nothing in them.
    void AddLost(uint64_t count);

    uint64_t SpeechFrames() const;
    // 30 ms a frame slot.
    double DurationSeconds() const;
};

// Whether a speech frame of type `speech` switches rate from the speech
// frame before it (`lastSpeechType`, -1 before the first), which it
// becomes. The one rule for every count of rate switches.
bool IsRateSwitch(int& lastSpeechType, FrameType speech);

// Seconds of audio in `frames` frames (30 ms each).
double FramesToSeconds(uint64_t frames);

}  // namespace mervox::media::stream
