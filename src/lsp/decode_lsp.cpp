#include "lsp/lsp.h"

#include "tables/tables.h"

namespace mervox {
namespace {

constexpr int kMaxSpacingPasses = 4;
constexpr float kLowestLsp = 3.0f;
constexpr float kHighestLsp = 252.0f;
// The test accepts neighbours a little closer than the spacing it enforces,
// so that single-precision error in the spreading cannot fail it.
constexpr double kSpacingSlack = 0.03125;

// Pushes neighbours apart to at least d; true when every pair ends at least
// d - slack apart.
bool SpreadPass(float lsp[kLpcOrder], double d)
{
    if (lsp[0] < kLowestLsp)
        lsp[0] = kLowestLsp;
    if (lsp[9] > kHighestLsp)
        lsp[9] = kHighestLsp;

    for (int i = 0; i < 9; ++i) {
        float m = static_cast<float>(static_cast<double>(lsp[i]) - lsp[i + 1] + d);
        if (m > 0.0f) {
            lsp[i] = static_cast<float>(lsp[i] - 0.5 * m);
            lsp[i + 1] = static_cast<float>(lsp[i + 1] + 0.5 * m);
        }
    }

    for (int i = 1; i < 10; ++i)
        if (static_cast<double>(lsp[i]) - lsp[i - 1] < d - kSpacingSlack)
            return false;
    return true;
}

}  // namespace

void DecodeLsp(float lsp[kLpcOrder], const float prevLsp[kLpcOrder], const int32_t lspIndex[3], int32_t badFrame)
{
    const double k = badFrame ? 0.71875 : 0.375;
    const double d = badFrame ? 4.0 : 2.0;

    for (int i = 0; i < 10; ++i)
        lsp[i] = static_cast<float>((static_cast<double>(prevLsp[i]) - LspMeanTable[i]) * k + LspMeanTable[i]);

    if (!badFrame) {
        const float* band0 = LspBandTable0[lspIndex[0]];
        const float* band1 = LspBandTable1[lspIndex[1]];
        const float* band2 = LspBandTable2[lspIndex[2]];
        for (int i = 0; i < 3; ++i)
            lsp[i] = static_cast<float>(static_cast<double>(lsp[i]) + band0[i]);
        for (int i = 0; i < 3; ++i)
            lsp[3 + i] = static_cast<float>(static_cast<double>(lsp[3 + i]) + band1[i]);
        for (int i = 0; i < 4; ++i)
            lsp[6 + i] = static_cast<float>(static_cast<double>(lsp[6 + i]) + band2[i]);
    }

    for (int pass = 0; pass < kMaxSpacingPasses; ++pass)
        if (SpreadPass(lsp, d))
            return;

    // Could not be made stable: repeat the previous frame's envelope.
    for (int i = 0; i < 10; ++i)
        lsp[i] = prevLsp[i];
}

}  // namespace mervox
