// The overlapped filtering of a good frame (FilterGoodFrame) against its
// stages run one after the other in their plain forms: LPC sets, the
// synthesis and formant postfilters of tests/reference and the output
// conversion. Its input is pitch-postfiltered excitation, made here from
// random periodic and noisy excitations (ComputePitchPostfilter, applied;
// the lag searches themselves are checked in tests/lanes).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "codec_facts.h"
#include "lsp/lsp.h"
#include "postfilter/postfilter.h"
#include "reference.h"
#include "tables/tables.h"

namespace mervox {
namespace {

struct GoodFrame {
    float excitation[kExcitationLength];
    int32_t openLoopLag[kHalfFrames];
    float curLsp[kLpcOrder];
    float prevLsp[kLpcOrder];
    float synthesis[kFilterMemoryLength];
    float postfiltered[kFilterMemoryLength];
    float tilt;
};

GoodFrame RandomFrame(std::mt19937& rng, int trial)
{
    GoodFrame f;
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_int_distribution<int> lag(kMinLag, 150);  // 142..150: limited to 142
    f.openLoopLag[0] = lag(rng);
    f.openLoopLag[1] = trial % 7 == 0 ? 63 : lag(rng);  // 63: subframe 2's only forward lag is 60
    const int period = trial % 3 == 0 ? 0 : f.openLoopLag[trial % 2];
    const float level = 10.0f + 3000.0f * std::abs(noise(rng));
    for (int i = 0; i < kExcitationLength; ++i)
        f.excitation[i] = level * (0.2f * noise(rng) + ((period && i % period == 0) ? 4.0f : 0.0f));
    if (trial % 11 == 0)
        std::memset(f.excitation + kHistoryLength + 60, 0, 60 * sizeof(float));  // silent subframe
    // Two nearby LSP vectors around the mean: stable filters that move.
    for (int k = 0; k < kLpcOrder; ++k) {
        f.prevLsp[k] = LspMeanTable[k] + 2.0f * noise(rng);
        f.curLsp[k] = LspMeanTable[k] + 2.0f * noise(rng);
    }
    for (int k = 0; k < kFilterMemoryLength; ++k) {
        f.synthesis[k] = 2000.0f * noise(rng);
        f.postfiltered[k] = 2000.0f * noise(rng);
    }
    f.tilt = 0.5f * noise(rng);
    return f;
}

TEST(FilterGoodFrame, MatchesTheStagesOneAfterTheOther)
{
    std::mt19937 rng(1623);
    for (int trial = 0; trial < 300; ++trial) {
        GoodFrame a = RandomFrame(rng, trial);
        GoodFrame b = a;
        const float* x = a.excitation + kHistoryLength;

        float lpcA[kLpcSetsLength], pf[kFrameLength];
        int16_t pcmA[kFrameLength];
        InterpolateLsp(lpcA, a.curLsp, a.prevLsp);
        for (int s = 0; s < kSubframes; ++s) {
            const float* sub = x + kSubframeLength * s;
            const PitchPostfilterParams p = ComputePitchPostfilter(sub, a.openLoopLag[s / 2], s);
            for (int n = 0; n < kSubframeLength; ++n)
                pf[kSubframeLength * s + n] = static_cast<float>(static_cast<double>(sub[n]) * p.scale +
                                                                 static_cast<double>(sub[n + p.lag]) * p.gain);
        }
        reference::SynthesisFilter(a.synthesis, pf, lpcA);
        reference::FormantPostfilter(a.postfiltered + kLpcOrder, a.synthesis + kLpcOrder, lpcA, a.tilt);
        ConvertToPcm16(pcmA, a.postfiltered + kLpcOrder);

        float lpcB[kLpcSetsLength];
        int16_t pcmB[kFrameLength];
        FilterGoodFrame(b.synthesis, b.postfiltered, pf, b.curLsp, b.prevLsp, lpcB, b.tilt, pcmB);

        ASSERT_EQ(std::memcmp(lpcA, lpcB, sizeof lpcA), 0) << trial;
        ASSERT_EQ(std::memcmp(a.synthesis, b.synthesis, sizeof a.synthesis), 0) << trial;
        ASSERT_EQ(std::memcmp(a.postfiltered, b.postfiltered, sizeof a.postfiltered), 0) << trial;
        ASSERT_EQ(std::memcmp(&a.tilt, &b.tilt, sizeof a.tilt), 0) << trial;
        ASSERT_EQ(std::memcmp(pcmA, pcmB, sizeof pcmA), 0) << trial;
    }
}

}  // namespace
}  // namespace mervox
