// The build keeps every rounding to single precision that the code writes.
//
// GCC 12's straight-line vectorizer drops the round trip through float when
// two neighbouring doubles are each rounded to float and stored back as
// doubles: the pair is added in one vector instruction and stored without
// the conversions. The decoder keeps many float-rounded values in double
// variables side by side (filter weights, recent outputs, lane pairs), so
// the library and its tests are built without that vectorizer. This test,
// built with the same flags, fails if the flag is lost.
#include <gtest/gtest.h>

void RoundPairToFloat(double* out, const double* in);

// Out of line and visible outside this file, so that the compiler can
// neither fold it into its caller's constants nor drop it.
__attribute__((noinline)) void RoundPairToFloat(double* out, const double* in)
{
    const float a = static_cast<float>(in[0] + 1.0);
    const float b = static_cast<float>(in[1] + 1.0);
    out[0] = a;
    out[1] = b;
}

namespace {

TEST(BuildRounding, NeighbouringDoublesKeepTheirRoundingToFloat)
{
    volatile double first = 0.1, second = 0.2;  // read at run time
    const double in[2] = {first, second};
    double out[2] = {};
    RoundPairToFloat(out, in);
    // 1.1 and 1.2 to the nearest float.
    EXPECT_EQ(out[0], 0x1.19999ap+0);
    EXPECT_EQ(out[1], 0x1.333334p+0);
}

}  // namespace
