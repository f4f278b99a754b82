// Adaptive codebook: table choice, lag, periodic extension and the five-tap
// filter with its single-precision partial sums.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec_facts.h"
#include "excitation/excitation.h"
#include "tables/tables.h"

namespace mervox {
namespace {

// An excitation history with the subframe at x = data + kHistoryLength.
struct History {
    float data[kExcitationLength] = {};
    float* x = data + kHistoryLength;
};

TEST(AdaptiveCodebook, TapRowChosenByRateAndOpenLoopLag)
{
    // A unit impulse at x[-(L - 2)] makes v[0..4] = g4, g3, g2, g1, g0.
    struct Case {
        int rate, openLoopLag, lagOffset;
        const float* row;
    };
    const Case cases[] = {
        {kRate63, 57, 1, PitchTapTable85[73]},  {kRate63, 57, 3, PitchTapTable85[73]},
        {kRate63, 58, 1, PitchTapTable170[73]}, {kRate63, 58, 0, PitchTapTable170[73]},
        {kRate53, 57, 1, PitchTapTable170[73]}, {kRate53, 100, 2, PitchTapTable170[73]},
    };
    for (const Case& c : cases) {
        History h;
        const int lag = c.openLoopLag + c.lagOffset - 1;
        h.x[-(lag - 2)] = 1.0f;
        DecodeAdaptiveCodebook(h.x, c.openLoopLag, c.lagOffset, 73, c.rate);
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(h.x[j], c.row[4 - j]) << c.rate << " " << c.openLoopLag << " " << c.lagOffset << " tap " << j;
        for (int n = 5; n < lag && n < 60; ++n)  // until the extended impulse comes round again
            EXPECT_EQ(h.x[n], 0.0f) << n;
    }
}

TEST(AdaptiveCodebook, ShortLagRepeatsThroughTheSubframe)
{
    // L = 17: x[-7] reappears at 10, 27 and 44 (the last sample the filter
    // reads is x[44]); each output holds exactly one tap.
    History h;
    h.x[-7] = 1.0f;
    DecodeAdaptiveCodebook(h.x, 18, 0, 150, kRate53);
    const float* g = PitchTapTable170[150];
    for (int n = 0; n < 60; ++n) {
        float expected = 0.0f;
        for (int j = 0; j < 5; ++j)
            for (int pulse : {-7, 10, 27, 44})
                if (n - 19 + j == pulse)
                    expected = g[j];
        EXPECT_EQ(h.x[n], expected) << n;
    }
}

TEST(AdaptiveCodebook, EachPartialSumIsRoundedToFloat)
{
    History h;
    for (int i = 0; i < kExcitationLength; ++i)
        h.data[i] = static_cast<float>((i % 3 == 0 ? 30000.0 : 0.37) * std::cos(1.7 * i) + 1e-3 * i);
    float before[kExcitationLength];
    std::memcpy(before, h.data, sizeof before);
    const float* x0 = before + kHistoryLength;

    const int lag = 90;
    const float* g = PitchTapTable170[154];
    DecodeAdaptiveCodebook(h.x, lag, 1, 154, kRate53);
    int differsFromDoubleSum = 0;
    for (int n = 0; n < 60; ++n) {
        float sum = 0.0f;
        double exact = 0.0;
        for (int j = 0; j < 5; ++j) {
            const double term = static_cast<double>(g[j]) * x0[n - lag - 2 + j];
            sum = static_cast<float>(j == 0 ? term : sum + term);
            exact += term;
        }
        EXPECT_EQ(h.x[n], sum) << n;
        differsFromDoubleSum += static_cast<float>(exact) != sum;
    }
    EXPECT_GT(differsFromDoubleSum, 0) << "history does not tell the rounding points apart";
}

}  // namespace
}  // namespace mervox
