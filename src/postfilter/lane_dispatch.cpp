// The table of the vector kernels, one row a variant, and the choice of a
// variant from what the build contains and the processor runs.
//
// The SSE2 row is built wherever the compiler targets SSE2 (every file is
// compiled for it there); the AVX2 and AVX-512 rows where the build compiles
// their files for those sets (src/CMakeLists.txt defines MERVOX_LANES_AVX2
// and MERVOX_LANES_AVX512 then).
#include "postfilter/lane_dispatch.h"

#include <cstdlib>
#include <cstring>

#include "postfilter/lane_kernels.h"

namespace mervox {
namespace {

// A variant this build lacks: the portable kernels.
[[maybe_unused]] constexpr LaneKernels Missing(const char* name)
{
    return {name, false, nullptr, FilterLanesScalar, 1, PitchPostfilterPair};
}

constexpr LaneKernels kTable[] = {
    {"scalar", true, nullptr, FilterLanesScalar, 1, PitchPostfilterScalar},
#if defined(__SSE2__)
    {"sse2", true, &CpuFeatures::sse2, FilterLanesSse2, kLaneGroupSse2, PitchPostfilterPair},
#else
    Missing("sse2"),
#endif
#if defined(MERVOX_LANES_AVX2)
    {"avx2", true, &CpuFeatures::avx2, FilterLanesAvx2, kLaneGroupAvx2, PitchPostfilterAvx2},
#else
    Missing("avx2"),
#endif
#if defined(MERVOX_LANES_AVX512)
    {"avx512", true, &CpuFeatures::avx512f, FilterLanesAvx512, kLaneGroupAvx512, PitchPostfilterAvx512},
#else
    Missing("avx512"),
#endif
};
static_assert(sizeof kTable / sizeof kTable[0] == sizeof kAllLaneVariants / sizeof kAllLaneVariants[0],
              "a row for every variant, in kAllLaneVariants order");

constexpr int kVariants = static_cast<int>(sizeof kTable / sizeof kTable[0]);

}  // namespace

const LaneKernels& KernelsOf(LaneVariant variant) { return kTable[static_cast<int>(variant)]; }

bool LaneVariantSupported(LaneVariant variant)
{
    const LaneKernels& k = KernelsOf(variant);
    return k.built && (!k.needs || ProcessorFeatures().*k.needs);
}

LaneVariant ChooseLaneVariant(const char* limit)
{
    int widest = kVariants - 1;
    for (int v = 0; limit && v < kVariants; ++v)
        if (std::strcmp(limit, kTable[v].name) == 0)
            widest = v;
    for (int v = widest; v > 0; --v)
        if (LaneVariantSupported(static_cast<LaneVariant>(v)))
            return static_cast<LaneVariant>(v);
    return LaneVariant::kScalar;
}

LaneVariant BestLaneVariant()
{
    static const LaneVariant best = ChooseLaneVariant(std::getenv("MERVOX_LANES"));
    return best;
}

const char* LaneVariantName(LaneVariant variant) { return KernelsOf(variant).name; }

int LaneGroupSize(LaneVariant variant) { return KernelsOf(variant).laneGroup; }

}  // namespace mervox
