// Output conversion: nearest integer with halves away from zero, computed
// in double, saturating at 32766.5 and -32767.5.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "lanes/scalar.h"
#include "postfilter/pcm16_round.h"
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

// The conversion as first written, one branch per case.
int16_t PlainPcm16(float f)
{
    const double v = f;
    if (v >= 0.0)
        return static_cast<int16_t>(v > 32766.5 ? 32767 : static_cast<int>(v + 0.5));
    if (v < 0.0)
        return static_cast<int16_t>(v < -32767.5 ? -32768 : static_cast<int>(v - 0.5));
    return 0;
}

TEST(ConvertToPcm16, BranchFreeFormsMatchThePlainFormOnAnyFloat)
{
    // Random bit patterns (every exponent, infinities, NaNs, denormals) and
    // every float within a few units of the rounding and saturation limits.
    std::mt19937 rng(240);
    std::vector<float> values;
    for (int i = 0; i < 48000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(rng());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(f);
    }
    for (float limit : {0.5f, 1.5f, 32766.5f, 32767.5f, 32768.0f}) {
        for (float sign : {1.0f, -1.0f}) {
            float f = sign * limit;
            for (int k = 0; k < 64; ++k)
                f = std::nextafter(f, 0.0f);
            for (int k = 0; k < 128; ++k, f = std::nextafter(f, sign * 1e9f))
                values.push_back(f);
        }
    }
    values.resize((values.size() + 239) / 240 * 240, 0.0f);
    for (size_t start = 0; start < values.size(); start += 240) {
        int16_t out[240];
        ConvertToPcm16(out, values.data() + start);
        for (size_t i = 0; i < 240; ++i)
            ASSERT_EQ(out[i], PlainPcm16(values[start + i])) << values[start + i];
    }
    // The rounding in plain doubles, which builds without SSE2 convert with.
    for (float v : values) {
        int16_t out;
        StorePcm16<ScalarLanes>(&out, v);
        ASSERT_EQ(out, PlainPcm16(v)) << v;
    }
}

}  // namespace
}  // namespace mervox
