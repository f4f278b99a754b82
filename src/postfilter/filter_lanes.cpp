// Choice of the lane kernel: what the build contains and the processor runs.
#include "postfilter/filter_lanes.h"

#include <initializer_list>

#include "codec_facts.h"
#include "postfilter/postfilter.h"

namespace mervox {
namespace {

// Whether the processor and operating system run the instruction set
// (the compiler's run-time check; it includes the OS's saving of the wide
// registers).
bool CpuHas(LaneVariant variant)
{
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    switch (variant) {
    case LaneVariant::kScalar:
        return true;
    case LaneVariant::kSse2:
        return __builtin_cpu_supports("sse2");
    case LaneVariant::kAvx2:
        return __builtin_cpu_supports("avx2");
    case LaneVariant::kAvx512:
        return __builtin_cpu_supports("avx512f");
    }
    return false;
#else
    return variant == LaneVariant::kScalar;
#endif
}

bool Run(LaneVariant variant, const LaneStream* streams, int count)
{
    switch (variant) {
    case LaneVariant::kScalar:
        for (int k = 0; k < count; ++k) {
            const LaneStream& s = streams[k];
            SynthesizeAndPostfilter(s.synthesis, s.postfiltered, s.excitation, s.lpc, *s.tilt);
            ConvertToPcm16(s.pcm, s.postfiltered + kLpcOrder);
        }
        return true;
    case LaneVariant::kSse2:
        return FilterLanesSse2(streams, count);
    case LaneVariant::kAvx2:
        return FilterLanesAvx2(streams, count);
    case LaneVariant::kAvx512:
        return FilterLanesAvx512(streams, count);
    }
    return false;
}

}  // namespace

bool LaneVariantSupported(LaneVariant variant)
{
    // A variant missing from the build returns false without touching
    // anything when given no streams.
    return CpuHas(variant) && Run(variant, nullptr, 0);
}

LaneVariant BestLaneVariant()
{
    for (LaneVariant v : {LaneVariant::kAvx512, LaneVariant::kAvx2, LaneVariant::kSse2})
        if (LaneVariantSupported(v))
            return v;
    return LaneVariant::kScalar;
}

const char* LaneVariantName(LaneVariant variant)
{
    switch (variant) {
    case LaneVariant::kScalar:
        return "scalar";
    case LaneVariant::kSse2:
        return "sse2";
    case LaneVariant::kAvx2:
        return "avx2";
    case LaneVariant::kAvx512:
        return "avx512";
    }
    return "?";
}

int LaneGroupSize(LaneVariant variant)
{
    switch (variant) {
    case LaneVariant::kScalar:
        return 1;
    case LaneVariant::kSse2:
        return LaneGroupSse2();
    case LaneVariant::kAvx2:
        return LaneGroupAvx2();
    case LaneVariant::kAvx512:
        return LaneGroupAvx512();
    }
    return 1;
}

void FilterLanes(const LaneStream* streams, int count, LaneVariant variant)
{
    if (!Run(variant, streams, count))
        Run(LaneVariant::kScalar, streams, count);
}

}  // namespace mervox
