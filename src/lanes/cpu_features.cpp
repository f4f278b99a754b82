#include "lanes/cpu_features.h"

namespace mervox {
namespace {

CpuFeatures Detect()
{
    CpuFeatures f;
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    f.sse2 = __builtin_cpu_supports("sse2") != 0;
    f.avx2 = __builtin_cpu_supports("avx2") != 0;
    f.avx512f = __builtin_cpu_supports("avx512f") != 0;
#endif
    return f;
}

}  // namespace

const CpuFeatures& ProcessorFeatures()
{
    static const CpuFeatures features = Detect();
    return features;
}

}  // namespace mervox
