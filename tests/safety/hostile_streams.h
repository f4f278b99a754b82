// Streams and checks shared by the safety tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "interface/channel.h"
#include "state_checks.h"

namespace mervox::test {

// A legal 5.3 kbit/s frame whose pitch gain exceeds one: both open-loop lags
// 60, lag offsets 1, gain word 169 * 24 + 23 in all four subframes, no pulse
// bits set. Repeated, it drives the excitation past the float range in its
// 26th frame.
std::vector<uint8_t> RunawayFrame();

// True when every float the decoder keeps between frames is finite.
using fuzz::StateIsFinite;

// True when the state equals that of a decoder just reset.
bool StateIsFresh(const DecoderState& state);

// `count` frames of the 5.3 kbit/s corpus stream from frame `first` on,
// back to back.
std::vector<uint8_t> CorpusFrames53(size_t first, size_t count);

// Decodes back-to-back frames (20 or 24 bytes by bit 0) on `channel`,
// returning all output samples.
std::vector<int16_t> DecodeFrames(Channel& channel, const std::vector<uint8_t>& frames);

}  // namespace mervox::test
