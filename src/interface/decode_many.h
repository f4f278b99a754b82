// mervox_decode_many with a chosen lane kernel, for tests and benchmarks
// that compare the kernels; the exported function takes the best one the
// processor runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mervox.h"
#include "postfilter/filter_lanes.h"

namespace mervox {

int DecodeManyWith(mervox_decoder* const* decoders, const uint8_t* const* frames, const size_t* sizes, int16_t* pcm,
                   int* results, size_t n, LaneVariant variant);

}  // namespace mervox
