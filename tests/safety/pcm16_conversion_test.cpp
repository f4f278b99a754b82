// Converting an out-of-range float or a NaN to an integer is undefined
// behaviour; the output stage must decide those cases itself. In the
// sanitizer build a conversion that slipped through traps
// (float-cast-overflow).
#include <gtest/gtest.h>

#include <cfloat>
#include <limits>

#include "postfilter/postfilter.h"

namespace mervox::test {
namespace {

TEST(Pcm16Conversion, NonFiniteAndHugeValuesAreSaturatedOrSilenced)
{
    struct Case {
        float in;
        int16_t out;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {nan, 0},           {-nan, 0},           {inf, 32767},      {-inf, -32768},         {FLT_MAX, 32767},
        {-FLT_MAX, -32768}, {1e30f, 32767},      {-1e30f, -32768},  {2147483648.0f, 32767}, {-2147483648.0f, -32768},
        {65536.0f, 32767},  {-65536.0f, -32768}, {32767.4f, 32767}, {-32768.4f, -32768},    {FLT_MIN, 0},
        {-FLT_TRUE_MIN, 0},
    };
    float input[240] = {};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        input[i] = cases[i].in;
    int16_t output[240];
    ConvertToPcm16(output, input);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(output[i], cases[i].out) << "input " << cases[i].in;
}

}  // namespace
}  // namespace mervox::test
