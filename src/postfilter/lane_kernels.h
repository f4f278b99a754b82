// The entry points of every variant of the vector kernels, which the table
// in lane_dispatch.cpp maps to the variants. The files of the wider
// instruction sets (*_avx2.cpp, *_avx512.cpp) are part of the build only
// where it compiles them for their sets (src/CMakeLists.txt), and the SSE2
// filter kernel only where the compiler targets SSE2.
#pragma once

#include <cstdint>

#include "codec_facts.h"

namespace mervox {

struct LaneStream;

// The filters and output conversion of streams[0..count-1]: the
// single-stream functions one stream after the other (filter_lanes.cpp),
// or the lane kernel (filter_lanes_kernel.inl) with each instruction set
// (filter_lanes_<isa>.cpp).
void FilterLanesScalar(const LaneStream* streams, int count);
void FilterLanesSse2(const LaneStream* streams, int count);
void FilterLanesAvx2(const LaneStream* streams, int count);
void FilterLanesAvx512(const LaneStream* streams, int count);

// Streams each lane kernel filters side by side: registers times their
// lanes. More registers hide more of the filters' chains, as long as the
// registers hold them (16 with SSE2 and AVX2, 32 with AVX-512).
constexpr int kLaneGroupSse2 = 4 * 2;
constexpr int kLaneGroupAvx2 = 4 * 4;
constexpr int kLaneGroupAvx512 = 2 * 8;

// The pitch postfilter of a frame with its lag search one lag a register
// and two (pitch_postfilter.cpp), four and eight
// (pitch_postfilter_<isa>.cpp).
void PitchPostfilterScalar(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames]);
void PitchPostfilterPair(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames]);
void PitchPostfilterAvx2(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames]);
void PitchPostfilterAvx512(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames]);

}  // namespace mervox
