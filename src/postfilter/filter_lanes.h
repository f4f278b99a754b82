// The synthesis filter, the formant postfilter and the output conversion of
// several streams' frames at once, each stream in a SIMD lane of its own.
//
// One stream's filters are serial chains (every output sample needs the
// previous one), which leave most of the processor idle. The chains of
// different streams are independent, so a vector register can carry one
// sample of each of several streams through the same step: every lane
// multiplies and adds in double precision in exactly the order of the
// single-stream steps (filter_steps.h), rounds to single precision at the
// same points, and never fuses a multiplication into an addition. Each
// stream's result is therefore bit for bit that of SynthesizeAndPostfilter
// followed by ConvertToPcm16: the same 16-bit output, tilt and last ten
// samples of each filter (the history the next frame reads). The lane
// kernels keep the frame's other filtered samples to themselves: elements
// 10..239 of the memories, which every frame overwrites before it reads
// them, are left as they were.
//
// The variants are compiled from one source (filter_lanes_kernel.inl) with
// different instruction sets, and chosen at run time from what the
// processor supports (lane_dispatch.h).
#pragma once

#include <cstdint>

#include "postfilter/lane_dispatch.h"

namespace mervox {

// One stream's frame as the lane kernels see it; the same arrays that
// SynthesizeAndPostfilter and ConvertToPcm16 take.
struct LaneStream {
    float* synthesis;         // synthesisMemory[250]: [0..9] history, [240..249] written
    float* postfiltered;      // postfilterMemory[250]: [4..9] history, [240..249] written
    const float* excitation;  // the frame's filter input, 240 samples
    const float* lpc;         // four LPC sets of 10
    float* tilt;              // the postfilter's smoothed tilt, updated
    int16_t* pcm;             // 240 output samples
};

// Filters and converts the frames of streams[0..count-1] with the given
// (supported) variant's kernel (lane_dispatch.h). The streams must not
// share arrays.
void FilterLanes(const LaneStream* streams, int count, LaneVariant variant);

}  // namespace mervox
