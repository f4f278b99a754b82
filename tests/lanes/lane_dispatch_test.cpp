// The kernel table and the choice of a variant: a row for every variant,
// the wide kernels really in an x86-64 build, support as the processor
// reports it, and the choice capped by MERVOX_LANES.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "lanes/cpu_features.h"
#include "postfilter/lane_dispatch.h"

namespace mervox {
namespace {

TEST(LaneDispatch, EveryVariantHasAWholeRow)
{
    const char* const names[] = {"scalar", "sse2", "avx2", "avx512"};
    int i = 0;
    for (LaneVariant v : kAllLaneVariants) {
        const LaneKernels& k = KernelsOf(v);
        EXPECT_STREQ(LaneVariantName(v), names[i++]);
        EXPECT_TRUE(k.filterLanes && k.pitchPostfilter) << k.name;
        EXPECT_GE(k.laneGroup, 1) << k.name;
        if (!k.built) {
            EXPECT_FALSE(LaneVariantSupported(v)) << k.name;
        }
    }
    EXPECT_TRUE(LaneVariantSupported(LaneVariant::kScalar));
#if defined(__x86_64__) && defined(__GNUC__)
    // Where the build compiles the wide kernels, the table must reach them
    // (else it would fall back to the portable ones without a word).
    for (LaneVariant v : kAllLaneVariants)
        EXPECT_TRUE(KernelsOf(v).built) << LaneVariantName(v);
    EXPECT_EQ(LaneGroupSize(LaneVariant::kAvx2) % 4, 0);
    EXPECT_EQ(LaneGroupSize(LaneVariant::kAvx512) % 8, 0);
#endif
}

#if defined(__x86_64__) && defined(__linux__)
// The processor check against the kernel's own list of the processor's
// features.
TEST(LaneDispatch, ProcessorCheckAgreesWithTheKernel)
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line) && line.rfind("flags", 0) != 0) {
    }
    ASSERT_FALSE(line.empty());
    std::istringstream words(line.substr(line.find(':') + 1));
    bool sse2 = false, avx2 = false, avx512f = false;
    for (std::string w; words >> w;) {
        sse2 = sse2 || w == "sse2";
        avx2 = avx2 || w == "avx2";
        avx512f = avx512f || w == "avx512f";
    }
    const CpuFeatures& cpu = ProcessorFeatures();
    EXPECT_EQ(cpu.sse2, sse2);
    EXPECT_EQ(cpu.avx2, avx2);
    EXPECT_EQ(cpu.avx512f, avx512f);
    EXPECT_EQ(LaneVariantSupported(LaneVariant::kAvx2), avx2);
    EXPECT_EQ(LaneVariantSupported(LaneVariant::kAvx512), avx512f);
}
#endif

TEST(LaneDispatch, ChoiceIsTheWidestSupportedUpToTheLimit)
{
    LaneVariant widest = LaneVariant::kScalar;
    for (LaneVariant v : kAllLaneVariants)
        if (LaneVariantSupported(v))
            widest = v;
    EXPECT_EQ(ChooseLaneVariant(nullptr), widest);
    EXPECT_EQ(ChooseLaneVariant(""), widest);  // not a variant: ignored
    EXPECT_EQ(ChooseLaneVariant("avx1024"), widest);
    EXPECT_EQ(ChooseLaneVariant("scalar"), LaneVariant::kScalar);
    for (LaneVariant limit : kAllLaneVariants) {
        LaneVariant want = LaneVariant::kScalar;
        for (LaneVariant v : kAllLaneVariants)
            if (LaneVariantSupported(v) && static_cast<int>(v) <= static_cast<int>(limit))
                want = v;
        EXPECT_EQ(ChooseLaneVariant(LaneVariantName(limit)), want) << LaneVariantName(limit);
    }
    // The library's own choice follows the environment (the tests
    // lanes_choice_<variant> run this with MERVOX_LANES set).
    EXPECT_EQ(BestLaneVariant(), ChooseLaneVariant(std::getenv("MERVOX_LANES")));
}

}  // namespace
}  // namespace mervox
