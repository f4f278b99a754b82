// The vector kernels' variants, one for each instruction set, and the one
// table (lane_dispatch.cpp) that maps each variant to the function every
// kernel runs with it: the filters of several streams side by side
// (FilterLanes) and the pitch postfilter's lag search (PitchPostfilter).
// Every variant of a kernel gives the same result.
#pragma once

#include <cstdint>

#include "codec_facts.h"
#include "lanes/cpu_features.h"

namespace mervox {

struct LaneStream;

enum class LaneVariant {
    kScalar,  // one double a register; the filters one stream after the other
    kSse2,    // 2 doubles a register
    kAvx2,    // 4 doubles a register
    kAvx512,  // 8 doubles a register
};

constexpr LaneVariant kAllLaneVariants[] = {LaneVariant::kScalar, LaneVariant::kSse2, LaneVariant::kAvx2,
                                            LaneVariant::kAvx512};

// One variant's row of the table.
struct LaneKernels {
    const char* name;  // "scalar", "sse2", "avx2", "avx512"
    // Whether this build contains the variant's own kernels. Where it does
    // not, the row holds the portable ones (the filters one stream after
    // the other, the lag search two lags a register), so that any variant
    // can be asked for; it is never supported.
    bool built;
    // What the processor must run for it (null: nothing beyond the build's
    // own target).
    bool CpuFeatures::*needs;
    // The filters and output conversion of several streams (filter_lanes.h).
    void (*filterLanes)(const LaneStream* streams, int count);
    // Streams filterLanes runs side by side in one pass (its registers times
    // their lanes): batches of a multiple of this many use every lane.
    int laneGroup;
    // The pitch postfilter of a good frame (PitchPostfilter, postfilter.h).
    void (*pitchPostfilter)(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames]);
};

const LaneKernels& KernelsOf(LaneVariant variant);

// Whether this build contains the variant and this processor (and its
// operating system) can run it. kScalar always can.
bool LaneVariantSupported(LaneVariant variant);

// The widest supported variant, chosen at the first call. The environment
// variable MERVOX_LANES, set to a variant's name, caps the choice there (the
// widest supported variant no wider than it): a way to run and compare the
// narrower kernels through the public calls. Other values are ignored.
LaneVariant BestLaneVariant();

// BestLaneVariant's choice for a given MERVOX_LANES value (null: not set).
LaneVariant ChooseLaneVariant(const char* limit);

// "scalar", "sse2", "avx2", "avx512".
const char* LaneVariantName(LaneVariant variant);

// KernelsOf(variant).laneGroup.
int LaneGroupSize(LaneVariant variant);

}  // namespace mervox
