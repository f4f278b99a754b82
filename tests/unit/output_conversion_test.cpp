// Output conversion: nearest integer with halves away from zero, computed
// in double, saturating at 32766.5 and -32767.5.
#include <gtest/gtest.h>

#include <cmath>

#include "postfilter/postfilter.h"

namespace mervox {
namespace {

TEST(ConvertToPcm16, RoundingAndSaturation)
{
    const struct {
        float in;
        int16_t out;
    } cases[] = {
        {0.49f, 0}, {0.5f, 1}, {2.5f, 3}, {-0.49f, 0}, {-0.5f, -1}, {-2.5f, -3}, {-0.0f, 0},
        {std::nextafter(0.5f, 0.0f), 0},  // 0.49999997 + 0.5 rounds up in float arithmetic
        {std::nextafter(-0.5f, 0.0f), 0},
        {32766.4f, 32766}, {32766.5f, 32767}, {32766.6f, 32767}, {32767.6f, 32767}, {1e9f, 32767},
        {-32767.4f, -32767}, {-32767.5f, -32768}, {-32767.6f, -32768}, {-32768.6f, -32768}, {-1e9f, -32768},
        {INFINITY, 32767}, {-INFINITY, -32768},
    };
    float in[240] = {};
    int16_t out[240];
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        in[239 - i] = cases[i].in;
    ConvertToPcm16(out, in);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(out[239 - i], cases[i].out) << cases[i].in;
    EXPECT_EQ(out[0], 0);
}

}  // namespace
}  // namespace mervox
