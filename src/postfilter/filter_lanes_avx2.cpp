// The lane kernel with AVX2: four streams a register. Part of the build
// only where it compiles this file with -mavx2 (contraction stays off, so
// no multiplication is fused into an addition); called only on processors
// that have AVX2.
#include "codec_facts.h"
#include "lanes/avx2.h"
#include "loop_hints.h"
#include "postfilter/filter_lanes.h"
#include "postfilter/formant_constants.h"
#include "postfilter/lane_kernels.h"
#include "postfilter/pcm16_round.h"
#include "tables/tables.h"

namespace mervox {
namespace lanes_avx2 {
namespace {

using V = Avx2Lanes;
constexpr int kMaxGroups = kLaneGroupAvx2 / V::kWidth;

#include "postfilter/filter_lanes_kernel.inl"

}  // namespace
}  // namespace lanes_avx2

void FilterLanesAvx2(const LaneStream* streams, int count) { lanes_avx2::FilterAll(streams, count); }

}  // namespace mervox
