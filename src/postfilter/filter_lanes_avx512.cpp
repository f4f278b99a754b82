// The lane kernel with AVX-512: eight streams a register. Part of the build
// only where it compiles this file with -mavx512f (contraction stays off,
// so no fused multiply-add is generated; tests/lanes checks the machine
// code); called only on processors that have AVX-512.
#include "codec_facts.h"
#include "lanes/avx512.h"
#include "loop_hints.h"
#include "postfilter/filter_lanes.h"
#include "postfilter/formant_constants.h"
#include "postfilter/lane_kernels.h"
#include "postfilter/pcm16_round.h"
#include "tables/tables.h"

namespace mervox {
namespace lanes_avx512 {
namespace {

using V = Avx512Lanes;
constexpr int kMaxGroups = kLaneGroupAvx512 / V::kWidth;

#include "postfilter/filter_lanes_kernel.inl"

}  // namespace
}  // namespace lanes_avx512

void FilterLanesAvx512(const LaneStream* streams, int count) { lanes_avx512::FilterAll(streams, count); }

}  // namespace mervox
