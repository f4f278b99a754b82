// LSP decoding: prediction towards the mean, band residuals, spacing passes
// and the fallback to the previous vector.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "lsp/lsp.h"
#include "tables/tables.h"

namespace mervox {
namespace {

constexpr double kGood = 0.375, kBad = 0.71875;
const int32_t kNoIndex[3] = {0, 0, 0};

float Predicted(float prev, int i, double k)
{
    return static_cast<float>((static_cast<double>(prev) - LspMeanTable[i]) * k + LspMeanTable[i]);
}

// A previous value whose prediction is exactly `target`.
float PrevPredicting(int i, float target, double k)
{
    float p = static_cast<float>(LspMeanTable[i] + (target - static_cast<double>(LspMeanTable[i])) / k);
    for (int step = 0; step < 16 && Predicted(p, i, k) != target; ++step)
        p = std::nextafter(p, Predicted(p, i, k) < target ? 1e9f : -1e9f);
    EXPECT_EQ(Predicted(p, i, k), target) << "no previous value predicts " << target;
    return p;
}

void Mean(float v[10])
{
    for (int i = 0; i < 10; ++i)
        v[i] = LspMeanTable[i];
}

TEST(DecodeLsp, PredictionKeepsAFractionOfTheDeviation)
{
    // After a reset the bad-frame prediction of the mean is exactly the mean.
    float lsp[10];
    DecodeLsp(lsp, LspMeanTable, kNoIndex, 1);
    EXPECT_EQ(std::memcmp(lsp, LspMeanTable, sizeof lsp), 0);

    // Formed in double and rounded once: float arithmetic differs for some
    // of these deviations.
    const int32_t indices[3] = {17, 99, 200};  // ignored on a bad frame
    for (float deviation = -9.0f; deviation < 9.0f; deviation += 0.37f) {
        float prev[10];
        for (int i = 0; i < 10; ++i)
            prev[i] = LspMeanTable[i] + deviation * (1.0f + 0.1f * static_cast<float>(i));
        for (int bad : {0, 1}) {
            DecodeLsp(lsp, prev, bad ? indices : kNoIndex, bad);
            for (int i = 0; i < 10; ++i)
                ASSERT_EQ(lsp[i], Predicted(prev[i], i, bad ? kBad : kGood)) << deviation << " " << bad << " " << i;
        }
    }
}

TEST(DecodeLsp, BandIndicesAddToTheirElements)
{
    float mean[10], lsp[10];
    Mean(mean);
    const int32_t indices[3] = {1, 2, 255};
    DecodeLsp(lsp, mean, indices, 0);
    const float* rows[3] = {LspBandTable0[1], LspBandTable1[2], LspBandTable2[255]};
    const int first[3] = {0, 3, 6}, count[3] = {3, 3, 4};
    for (int b = 0; b < 3; ++b)
        for (int k = 0; k < count[b]; ++k) {
            const int i = first[b] + k;
            EXPECT_EQ(lsp[i], static_cast<float>(static_cast<double>(LspMeanTable[i]) + rows[b][k])) << i;
        }
}

TEST(DecodeLsp, BoundsApplyBeforeSpreadingOnly)
{
    // Element 0 predicted below 3.0 is raised to 3.0, element 1 at 6.0 is then
    // closer than 4.0, so the spreading pushes element 0 back below 3.0 and
    // the result keeps it there. Element 9 above 252.0 is lowered to 252.0.
    float prev[10], lsp[10];
    Mean(prev);
    prev[0] = -10.0f;
    prev[1] = PrevPredicting(1, 6.0f, kBad);
    prev[9] = 300.0f;
    DecodeLsp(lsp, prev, kNoIndex, 1);
    EXPECT_EQ(lsp[0], 2.5f);
    EXPECT_EQ(lsp[1], 6.5f);
    EXPECT_EQ(lsp[2], LspMeanTable[2]);
    EXPECT_EQ(lsp[9], 252.0f);
}

TEST(DecodeLsp, ThreeCrowdedValuesNeedAllFourPasses)
{
    // 100, 100, 100 spread (d = 2) to 98.015625, 99.9921875, 101.9921875: the
    // lower gap is 1.9765625 after the fourth pass, accepted with the 1/32 slack.
    float prev[10], lsp[10];
    Mean(prev);
    for (int i = 3; i <= 5; ++i)
        prev[i] = PrevPredicting(i, 100.0f, kGood);
    DecodeLsp(lsp, prev, kNoIndex, 0);
    EXPECT_EQ(lsp[3], 98.015625f);
    EXPECT_EQ(lsp[4], 99.9921875f);
    EXPECT_EQ(lsp[5], 101.9921875f);
    for (int i : {0, 1, 2, 6, 7, 8, 9})
        EXPECT_EQ(lsp[i], Predicted(prev[i], i, kGood)) << i;
}

TEST(DecodeLsp, UnspreadableVectorRepeatsThePreviousOne)
{
    float prev[10], lsp[10];
    for (int i = 0; i < 10; ++i)
        prev[i] = static_cast<float>(LspMeanTable[i] + (128.0 + 0.25 * i - LspMeanTable[i]) / kBad);
    DecodeLsp(lsp, prev, kNoIndex, 1);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(lsp[i], prev[i]) << i;
}

}  // namespace
}  // namespace mervox
