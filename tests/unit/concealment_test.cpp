// Concealment: voicing decision, periodic and noise excitation, the noise
// generator, and the gain bookkeeping along a run of bad frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "codec_facts.h"
#include "concealment/concealment.h"
#include "interface/decoder_state.h"

namespace mervox {
namespace {

// The last 120 past samples as ClassifyLostFrame sees them: w(j) is window
// sample j, j from -145 to 119.
struct Window {
    float history[kHistoryLength] = {};
    float& w(int j) { return history[145 + j]; }
    int32_t Classify(int32_t lag) { return ClassifyLostFrame(history + 145, lag); }
};

TEST(NextRandom, SequenceFromZero)
{
    int16_t seed = 0;
    for (int expected : {259, 4126, -12783, 24988, -22657}) {
        EXPECT_EQ(NextRandom(seed), expected);
        EXPECT_EQ(seed, expected);
    }
}

TEST(ClassifyLostFrame, SearchRangeAroundTheLag)
{
    Window silent;
    EXPECT_EQ(silent.Classify(18), 0);

    // A pair of equal pulses lag apart is fully correlated at that lag.
    auto pairAt = [](int lag) {
        Window x;
        x.w(119) = 100.0f;
        x.w(119 - lag) = 100.0f;
        return x;
    };
    EXPECT_EQ(pairAt(15).Classify(18), 15);  // a lost frame searches 15..21
    EXPECT_EQ(pairAt(21).Classify(18), 21);
    EXPECT_EQ(pairAt(14).Classify(18), 0);
    EXPECT_EQ(pairAt(22).Classify(18), 0);
    EXPECT_EQ(pairAt(145).Classify(150), 145);  // centre limited to 142
    EXPECT_EQ(pairAt(139).Classify(150), 139);
    EXPECT_EQ(pairAt(145).Classify(141), 0);
    EXPECT_EQ(pairAt(127).Classify(124), 127);  // raw faulty lag code as the centre
}

TEST(ClassifyLostFrame, TiesAndVoicingThreshold)
{
    Window tie;  // R(38) == R(42) == 50
    tie.w(100) = 10.0f;
    tie.w(62) = 5.0f;
    tie.w(58) = 5.0f;
    EXPECT_EQ(tie.Classify(40), 38);

    // Pulses a at 119 and b at 79: E0 = a^2 + b^2, E1 = b^2, R = ab, so
    // E0 E1 == 5 R^2 exactly when b = 2a; equality is not voiced.
    const std::pair<float, bool> cases[] = {{2.0f, false}, {1.875f, true}, {2.125f, false}};
    for (const auto& [b, voiced] : cases) {
        Window x;
        x.w(119) = 1.0f;
        x.w(79) = b;
        EXPECT_EQ(x.Classify(40), voiced ? 40 : 0) << b;
    }

    Window negative;
    negative.w(119) = 1.0f;
    negative.w(79) = -1.0f;
    EXPECT_EQ(negative.Classify(40), 0);
}

TEST(RegenerateExcitation, NoiseIsScaledBy2ToTheMinus15)
{
    float h[kExcitationLength] = {}, e[240];
    int16_t seed = 0;
    RegenerateExcitation(h + kHistoryLength, e, 0, 1.0f, 1, seed);
    EXPECT_EQ(e[0], 259.0f / 32768.0f);
    EXPECT_EQ(e[1], 4126.0f / 32768.0f);
}

TEST(ConcealmentRun, VoicedGainFadesAndFallsSilent)
{
    DecoderState state;
    for (int i = 0; i < kHistoryLength; i += 20)
        state.excitation[i + 4] = 1000.0f;  // period 20, found by a lost frame's search
    const uint8_t zeros[24] = {};
    int16_t out[240];
    const float gains[] = {0.875f, 0.65625f, 0.4921875f, 0.369140625f};
    for (int k = 0; k < 4; ++k) {
        state.DecodeFrame(out, zeros, kRate63, 1);
        EXPECT_EQ(state.erasureCount, k < 3 ? k + 1 : 3);
        EXPECT_EQ(state.concealLag, 20);
        EXPECT_EQ(state.concealGain, gains[k]);
        // The frame just concealed is now the newest 240 history samples.
        const float* frame = state.excitation + kHistoryLength - 240;
        float peak = 0.0f;
        for (int i = 0; i < 240; ++i)
            peak = std::max(peak, std::fabs(frame[i]));
        const float expectedPeak = k == 0 ? 875.0f : k == 1 ? 875.0f * 0.65625f : 0.0f;
        EXPECT_FLOAT_EQ(peak, expectedPeak) << "bad frame " << k + 1;
    }
}

TEST(ConcealmentRun, UnvoicedNoiseAtTheRmsOfTheLast120Samples)
{
    DecoderState state;
    for (int i = 0; i < 124; ++i)
        state.excitation[i] = 30000.0f;  // beyond the window and its lags 15..21
    state.excitation[145] = 2.0f;        // 119 apart: no correlation at lags 15..21
    state.excitation[264] = -36.0f;
    for (int i = kHistoryLength; i < kExcitationLength; ++i)
        state.excitation[i] = 777.0f;  // stale current-frame samples
    const uint8_t zeros[24] = {};
    int16_t out[240];
    state.DecodeFrame(out, zeros, kRate53, 1);
    EXPECT_EQ(state.concealLag, 0);
    const float rms = 3.29140282f;  // sqrt of 1300 / 120 rounded to float first (3.29140306 unrounded)
    EXPECT_EQ(state.concealGain, rms);
    int16_t seed = 0;  // one noise sample per output sample
    for (int i = 0; i < 240; ++i)
        NextRandom(seed);
    EXPECT_EQ(state.noiseSeed, seed);
    for (int i = 25; i < kHistoryLength; ++i)  // the noise frame leaves silence in the history
        ASSERT_EQ(state.excitation[i], 0.0f) << i;
    state.DecodeFrame(out, zeros, kRate53, 1);
    EXPECT_EQ(state.concealGain, static_cast<float>(rms * 0.75));
}

}  // namespace
}  // namespace mervox
