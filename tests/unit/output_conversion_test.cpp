// Output conversion: nearest integer with halves away from zero, computed
// in double, saturating at 32766.5 and -32767.5.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "postfilter/postfilter.h"

namespace mervox {
namespace {

TEST(ConvertToPcm16, RoundingAndSaturation)
{
    const std::pair<float, int16_t> cases[] = {
        {0.49f, 0},
        {0.5f, 1},
        {2.5f, 3},
        {-0.49f, 0},
        {-0.5f, -1},
        {-2.5f, -3},
        {-0.0f, 0},
        {std::nextafter(0.5f, 0.0f), 0},  // in float arithmetic 0.49999997 + 0.5 rounds up to 1
        {std::nextafter(-0.5f, 0.0f), 0},
        {32766.4f, 32766},
        {32766.5f, 32767},
        {32766.6f, 32767},
        {32767.6f, 32767},
        {1e9f, 32767},
        {-32767.4f, -32767},
        {-32767.5f, -32768},
        {-32767.6f, -32768},
        {-32768.6f, -32768},
        {-1e9f, -32768},
    };
    float in[240] = {};
    int16_t out[240];
    const int count = sizeof cases / sizeof cases[0];
    for (int i = 0; i < count; ++i)
        in[239 - i] = cases[i].first;
    ConvertToPcm16(out, in);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(out[239 - i], cases[i].second) << cases[i].first;
    EXPECT_EQ(out[0], 0);
}

}  // namespace
}  // namespace mervox
