// The lane kernel with SSE2: two streams a register (the x86-64 baseline,
// and required of 32-bit x86 builds too).
#if defined(__SSE2__)

#include "codec_facts.h"
#include "lanes/sse2.h"
#include "loop_hints.h"
#include "postfilter/filter_lanes.h"
#include "postfilter/formant_constants.h"
#include "postfilter/lane_kernels.h"
#include "postfilter/pcm16_round.h"
#include "tables/tables.h"

namespace mervox {
namespace lanes_sse2 {
namespace {

using V = Sse2Lanes;
constexpr int kMaxGroups = kLaneGroupSse2 / V::kWidth;

#include "postfilter/filter_lanes_kernel.inl"

}  // namespace
}  // namespace lanes_sse2

void FilterLanesSse2(const LaneStream* streams, int count) { lanes_sse2::FilterAll(streams, count); }

}  // namespace mervox

#endif
