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
// The variants are compiled from one source with different instruction
// sets and chosen at run time from what the processor supports.
#pragma once

#include <cstdint>

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

enum class LaneVariant {
    kScalar,  // one stream after the other: the single-stream functions
    kSse2,    // 2 doubles a register
    kAvx2,    // 4 doubles a register
    kAvx512,  // 8 doubles a register
};

constexpr LaneVariant kAllLaneVariants[] = {LaneVariant::kScalar, LaneVariant::kSse2, LaneVariant::kAvx2,
                                            LaneVariant::kAvx512};

// Whether this build contains the variant and this processor (and its
// operating system) can run it. kScalar always can.
bool LaneVariantSupported(LaneVariant variant);

// The widest supported variant.
LaneVariant BestLaneVariant();

// "scalar", "sse2", "avx2", "avx512".
const char* LaneVariantName(LaneVariant variant);

// Filters and converts the frames of streams[0..count-1] with the given
// (supported) variant. The streams must not share arrays.
void FilterLanes(const LaneStream* streams, int count, LaneVariant variant);

// Streams the variant filters side by side in one pass (its registers
// times their lanes): batches of a multiple of this many use every lane.
int LaneGroupSize(LaneVariant variant);

// The variants' entry points (filter_lanes_<isa>.cpp). FilterLanes<isa>
// returns false, doing nothing, and LaneGroup<isa> 0, when the variant is
// not part of this build.
bool FilterLanesSse2(const LaneStream* streams, int count);
bool FilterLanesAvx2(const LaneStream* streams, int count);
bool FilterLanesAvx512(const LaneStream* streams, int count);
int LaneGroupSse2();
int LaneGroupAvx2();
int LaneGroupAvx512();

}  // namespace mervox
