// A way out of long loops: every kFramesPerStopCheck frames a loop asks
// whether to stop (the Python module: whether a signal such as Ctrl-C came
// in) and throws Interrupted when it should. The loops in between need
// nothing but to let exceptions through (as they do std::bad_alloc).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

namespace mervox::media::base {

// True: abandon the work. May be empty (never stop).
using StopRequested = std::function<bool()>;

// Thrown by a loop that was told to stop; whoever asked knows why.
struct Interrupted : std::exception {
    const char* what() const noexcept override { return "interrupted"; }
};

// 4096 frames: about 30 ms of decoding, two minutes of audio.
constexpr uint64_t kFramesPerStopCheck = 4096;

// Counts a loop's frames and asks every kFramesPerStopCheck of them.
class StopCheck {
public:
    explicit StopCheck(const StopRequested& requested) : requested_(requested) {}

    // After each frame.
    void Frame() { Frames(1); }
    // After `count` frames, or as much work (a call's recording composed:
    // 240 samples a frame).
    void Frames(uint64_t count)
    {
        const uint64_t before = frames_ / kFramesPerStopCheck;
        frames_ += count;
        if (frames_ / kFramesPerStopCheck != before && requested_ && requested_())
            throw Interrupted();
    }

private:
    const StopRequested& requested_;  // outlives the loop: the caller's argument
    uint64_t frames_ = 0;
};

}  // namespace mervox::media::base
