// LSP to LPC conversion against a direct polynomial expansion, and the
// per-subframe interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "lsp/lsp.h"
#include "tables/tables.h"

namespace mervox {
namespace {

// -A(z) coefficients 1..10 from the products over the even and odd LSPs of
// (1 - 2 cos(w) z^-1 + z^-2), A = ((1 + z^-1) F1 + (1 - z^-1) F2) / 2, with
// the cosines interpolated in CosineTable as the decoder does.
void ReferenceLpc(const float lsp[10], double lpc[10])
{
    double f[2][12] = {{1.0}, {1.0}};
    for (int i = 0; i < 10; ++i) {
        const int k = static_cast<int>(std::floor(lsp[i]));
        const double c = CosineTable[k] + (static_cast<double>(CosineTable[k + 1]) - CosineTable[k]) * (lsp[i] - k);
        double* p = f[i % 2];
        for (int j = 11; j >= 2; --j)
            p[j] += -2.0 * c * p[j - 1] + p[j - 2];
        p[1] += -2.0 * c * p[0];
    }
    for (int j = 1; j <= 10; ++j)
        lpc[j - 1] = -0.5 * (f[0][j] + f[0][j - 1] + f[1][j] - f[1][j - 1]);
}

TEST(LspToLpc, MeanVectorGivesTheKnownSet)
{
    float v[10];
    std::memcpy(v, LspMeanTable, sizeof v);
    LspToLpc(v);
    const double expected[10] = {0.8302, -0.5109, 0.5106, -0.4615, 0.3562, -0.3947, 0.2311, -0.2653, 0.1744, -0.1284};
    for (int i = 0; i < 10; ++i)
        EXPECT_NEAR(v[i], expected[i], 0.00005) << i;
}

TEST(LspToLpc, MatchesPolynomialExpansion)
{
    const float vectors[][10] = {
        {24.4609f, 36.8828f, 60.0781f, 84.4219f, 108.375f, 128.867f, 154.312f, 173.906f, 199.094f, 216.547f},
        {3.0f, 5.0f, 40.25f, 42.5f, 90.125f, 128.0f, 131.75f, 200.5f, 203.0f, 252.0f},
        {12.7f, 30.1f, 51.9f, 77.3f, 99.99f, 118.2f, 147.6f, 166.4f, 190.8f, 233.3f},
    };
    for (const auto& lsp : vectors) {
        float v[10];
        double ref[10];
        std::memcpy(v, lsp, sizeof v);
        LspToLpc(v);
        ReferenceLpc(lsp, ref);
        for (int i = 0; i < 10; ++i)
            EXPECT_NEAR(v[i], ref[i], 2e-5 * (1.0 + std::fabs(ref[i]))) << lsp[0] << " coefficient " << i;
    }
}

TEST(LspToLpc, NegativeLspReadsAsZero)
{
    float zero[10] = {0.0f, 6.0f, 30.0f, 60.0f, 90.0f, 120.0f, 150.0f, 180.0f, 210.0f, 240.0f};
    float negative[10], small[10];
    std::memcpy(negative, zero, sizeof zero);
    std::memcpy(small, zero, sizeof zero);
    negative[0] = -0.75f;
    small[0] = 0.75f;
    LspToLpc(zero);
    LspToLpc(negative);
    LspToLpc(small);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(negative[i], zero[i]) << i;
    EXPECT_NE(small[0], zero[0]);  // values from 0 up are interpolated
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
        LspToLpc(v);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(lpc[10 * s + i], v[i]) << "subframe " << s << " coefficient " << i;
    }

    InterpolateLsp(lpc, cur, cur);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(lpc[i], lpc[30 + i % 10]) << i;
}

}  // namespace
}  // namespace mervox
