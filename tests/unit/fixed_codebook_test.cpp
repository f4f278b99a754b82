// Fixed codebook: multipulse positions and signs, the enumerative code's
// range, the pulse train, algebraic tracks and pitch sharpening.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "codec_facts.h"
#include "excitation/excitation.h"
#include "tables/tables.h"

namespace mervox {
namespace {

constexpr int kAmp = 13;  // FixedGainTable[13] = 332
const float g = FixedGainTable[kAmp];

// The subframe's fixed-codebook vector on an all-zero adaptive contribution.
std::map<int, float> Pulses(const FrameParams& p, int rate, int subframe)
{
    float x[60] = {};
    DecodeFixedCodebook(x, p, rate, subframe);
    std::map<int, float> nonzero;
    for (int n = 0; n < 60; ++n)
        if (x[n] != 0.0f)
            nonzero[n] = x[n];
    return nonzero;
}

FrameParams Params(int subframe, int openLoopLag, int grid, int positions, int signs)
{
    FrameParams p = {};
    p.openLoopLag[0] = p.openLoopLag[1] = openLoopLag;
    SubframeParams& s = p.sub[subframe];
    s.lagOffset = 1;
    s.ampIndex = kAmp;
    s.grid = grid;
    s.pulsePositions = positions;
    s.pulseSigns = signs;
    return p;
}

TEST(Multipulse, PositionsAndSigns)
{
    using P = std::map<int, float>;
    EXPECT_EQ(Pulses(Params(0, 60, 0, 0, 0), kRate63, 0), (P{{0, g}, {2, g}, {4, g}, {6, g}, {8, g}, {10, g}}));
    // The lowest position takes the most significant sign bit.
    EXPECT_EQ(Pulses(Params(2, 60, 0, 0, 0b100001), kRate63, 2),
              (P{{0, -g}, {2, g}, {4, g}, {6, g}, {8, g}, {10, -g}}));
    EXPECT_EQ(Pulses(Params(0, 60, 1, 1, 0), kRate63, 0), (P{{1, g}, {3, g}, {5, g}, {7, g}, {9, g}, {13, g}}));
    EXPECT_EQ(Pulses(Params(1, 60, 1, 142505, 16), kRate63, 1), (P{{51, -g}, {53, g}, {55, g}, {57, g}, {59, g}}));
    EXPECT_EQ(Pulses(Params(2, 60, 0, 593774, 0b000010), kRate63, 2),
              (P{{48, g}, {50, g}, {52, g}, {54, g}, {56, -g}, {58, g}}));
}

TEST(Multipulse, CodesBeyondTheRangePlaceNothing)
{
    // C(30, 6) and C(30, 5), and the largest codes the frame can carry.
    const std::pair<int, int> codes[] = {{0, 593775}, {2, 10 * 65536 + 65535}, {1, 142506}, {3, 8 * 16384 + 16383}};
    for (int train : {0, 1}) {
        for (const auto& [subframe, code] : codes) {
            FrameParams p = Params(subframe, 30, 0, code, 0);
            p.sub[subframe].trainFlag = train;
            float x[60];
            for (int n = 0; n < 60; ++n)
                x[n] = 0.5f * static_cast<float>(n) - 7.0f;
            DecodeFixedCodebook(x, p, kRate63, subframe);
            for (int n = 0; n < 60; ++n)
                EXPECT_EQ(x[n], 0.5f * static_cast<float>(n) - 7.0f) << subframe << " " << code << " " << n;
        }
    }
}

TEST(Multipulse, PulseTrainRepeatsAtTheOpenLoopLag)
{
    std::map<int, float> expected;
    for (int base : {0, 20, 40})
        for (int k = 0; k < 6; ++k)
            expected[base + 2 * k] = g;
    FrameParams p = Params(0, 20, 0, 0, 0);
    p.sub[0].trainFlag = 1;
    EXPECT_EQ(Pulses(p, kRate63, 0), expected);

    // Subframe 1 with lag offset 3 still repeats at the open-loop lag, 57 here.
    p = Params(1, 57, 0, 0, 0b00001);
    p.sub[1].lagOffset = 3;
    p.sub[1].trainFlag = 1;
    EXPECT_EQ(Pulses(p, kRate63, 1), (std::map<int, float>{{0, g}, {2, g}, {4, g}, {6, g}, {8, -g}, {57, g}, {59, g}}));
}

TEST(Algebraic, TracksAndSigns)
{
    using P = std::map<int, float>;
    EXPECT_EQ(Pulses(Params(0, 60, 0, 0, 15), kRate53, 0), (P{{0, g}, {2, g}, {4, g}, {6, g}}));
    EXPECT_EQ(Pulses(Params(0, 60, 0, 0, 0), kRate53, 0), (P{{0, -g}, {2, -g}, {4, -g}, {6, -g}}));
    // m = 1, 2, 3, 4 on tracks 0..3, three bits each from the bottom; sign bit k is track k.
    const int code = 1 | 2 << 3 | 3 << 6 | 4 << 9;
    EXPECT_EQ(Pulses(Params(3, 60, 1, code, 0b0101), kRate53, 3), (P{{9, g}, {19, -g}, {29, g}, {39, -g}}));
    // Tracks 2 and 3 at m = 7 fall beyond the subframe.
    EXPECT_EQ(Pulses(Params(1, 60, 1, 4095, 15), kRate53, 1), (P{{57, g}, {59, g}}));
}

TEST(Algebraic, SharpeningLagLimit)
{
    // Pulses at 0, 2, 4, 6; a comb at lag T < 58 echoes them from T on.
    struct Case {
        int subframe, openLoopLag, lagOffset, gainIndex;
        bool sharpened;
    };
    const Case cases[] = {
        {0, 57, 1, 1, true},    // row 1: correction 0, T = 57
        {0, 58, 1, 1, false},   // T = 58
        {1, 58, 0, 1, true},    // closed-loop lag 57
        {2, 59, 1, 13, true},   // row 13: correction -2
        {2, 56, 1, 12, false},  // row 12: correction +2, T = 58
        {0, 18, 1, 0, false},   // row 0: no sharpening at any lag
    };
    for (const Case& c : cases) {
        FrameParams p = Params(c.subframe, c.openLoopLag, 0, 0, 15);
        p.sub[c.subframe].lagOffset = c.lagOffset;
        p.sub[c.subframe].gainIndex = c.gainIndex;
        std::map<int, float> expected{{0, g}, {2, g}, {4, g}, {6, g}};
        if (c.sharpened) {
            const float echo = static_cast<float>(static_cast<double>(SharpeningGainTable[c.gainIndex]) * g);
            expected[57] = expected[59] = echo;
        }
        EXPECT_EQ(Pulses(p, kRate53, c.subframe), expected) << c.openLoopLag << " row " << c.gainIndex;
    }
}

}  // namespace
}  // namespace mervox
