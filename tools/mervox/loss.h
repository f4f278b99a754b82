// Simulated frame loss: a loss mask file and/or reproducible random drops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mervox::cli {

// One entry per frame, nonzero = decode that frame as lost. `mask` is a
// mask file's bytes (one per frame, nonzero = lost; frames past its end are
// kept). With dropRate > 0 each frame is also lost with that probability,
// drawn from a generator seeded with `seed`: the same seed always drops the
// same frames, on every platform.
std::vector<uint8_t> BuildLossPlan(size_t frames, const std::vector<uint8_t>& mask, double dropRate,
                                   uint64_t seed);

}  // namespace mervox::cli
