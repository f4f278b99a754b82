// LSP to LPC conversion and the per-subframe interpolation.
#include <gtest/gtest.h>

#include <cstring>

#include "lsp/lsp.h"
#include "reference.h"
#include "tables/tables.h"

namespace mervox {
namespace {

TEST(LspToLpc, MeanVectorGivesTheKnownSet)
{
    // Equal vectors: the four sets are one set, the mean's.
    float lpc[40];
    InterpolateLsp(lpc, LspMeanTable, LspMeanTable);
    const double expected[10] = {0.8302, -0.5109, 0.5106, -0.4615, 0.3562, -0.3947, 0.2311, -0.2653, 0.1744, -0.1284};
    for (int i = 0; i < 10; ++i)
        EXPECT_NEAR(lpc[i], expected[i], 0.00005) << i;
    for (int s = 1; s < 4; ++s)
        EXPECT_EQ(std::memcmp(lpc + 10 * s, lpc, 10 * sizeof(float)), 0) << "subframe " << s;
}

TEST(LspToLpc, NegativeLspReadsAsZero)
{
    const float base[10] = {0.0f, 6.0f, 30.0f, 60.0f, 90.0f, 120.0f, 150.0f, 180.0f, 210.0f, 240.0f};
    float v[3][10], lpc[3][40];
    for (int k = 0; k < 3; ++k) {
        std::memcpy(v[k], base, sizeof base);
        v[k][0] = k == 0 ? 0.0f : k == 1 ? -0.75f : 0.75f;
        InterpolateLsp(lpc[k], v[k], v[k]);
    }
    EXPECT_EQ(std::memcmp(lpc[0], lpc[1], sizeof lpc[0]), 0);
    EXPECT_NE(lpc[2][0], lpc[0][0]);  // from 0 up the cosine is interpolated
}

TEST(InterpolateLsp, SubframeWeightsRunFromPreviousToCurrent)
{
    const float prev[10] = {20.0f, 40.0f, 60.0f, 80.0f, 100.0f, 120.0f, 140.0f, 160.0f, 180.0f, 200.0f};
    const float cur[10] = {31.3f, 45.7f, 58.1f, 90.9f, 111.1f, 126.6f, 150.2f, 171.7f, 193.3f, 230.4f};
    float lpc[40];
    InterpolateLsp(lpc, cur, prev);
    for (int s = 0; s < 4; ++s) {
        float v[10];
        for (int i = 0; i < 10; ++i)
            v[i] = static_cast<float>((static_cast<double>(cur[i]) - prev[i]) * (0.25 * (s + 1)) + prev[i]);
        reference::LspToLpc(v);
        EXPECT_EQ(std::memcmp(lpc + 10 * s, v, sizeof v), 0) << "subframe " << s;
    }
}

}  // namespace
}  // namespace mervox
