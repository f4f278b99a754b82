// The restructured stages (several lags per pass, independent samples
// computed into a buffer, the two recursions overlapped) against their
// straightforward forms, bit for bit, on random and periodic signals that
// reach every lag, subframe and branch. The corpus tests cover real
// streams; these cover the inputs the corpus happens not to contain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "bitstream/bitstream.h"
#include "codec_facts.h"
#include "concealment/concealment.h"
#include "excitation/excitation.h"
#include "lsp/lsp.h"
#include "postfilter/postfilter.h"
#include "reference.h"
#include "tables/tables.h"

namespace mervox {
namespace {

// Speech-like excitation: pulses every `period` samples plus noise, with a
// random level; period 0 gives noise alone.
void FillExcitation(float* v, int count, int period, std::mt19937& rng)
{
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_real_distribution<float> level(1.0f, 3000.0f);
    const float amp = level(rng);
    for (int i = 0; i < count; ++i)
        v[i] = amp * (0.2f * noise(rng) + ((period && i % period == 0) ? 4.0f : 0.0f));
}

// ---- pitch postfilter: one lag at a time (reference.h) ----

TEST(FastPaths, PitchPostfilterMatchesOneLagAtATime)
{
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> lagDist(18, 147);  // above 142 is held at 142
    std::uniform_int_distribution<int> periodDist(0, 150);
    float excitation[kExcitationLength];
    int chosen[3] = {};  // backward, none, forward
    for (int trial = 0; trial < 400; ++trial) {
        const int lag = lagDist(rng);
        // Mostly periodic at about the searched lag, so that lags are found.
        const int period = trial % 4 == 0 ? periodDist(rng) : lag + trial % 7 - 3;
        FillExcitation(excitation, kExcitationLength, period, rng);
        if (trial % 50 == 0)
            std::memset(excitation + kHistoryLength, 0, kSubframeLength * sizeof(float));  // silent subframe 0
        for (int sf = 0; sf < kSubframes; ++sf) {
            const float* x = excitation + kHistoryLength + kSubframeLength * sf;
            const PitchPostfilterParams want = reference::ChoosePitchPostfilter(x, lag, sf);
            const PitchPostfilterParams got = ComputePitchPostfilter(x, lag, sf);
            ASSERT_EQ(got.lag, want.lag) << "trial " << trial << " subframe " << sf;
            ASSERT_EQ(std::memcmp(&got.gain, &want.gain, sizeof(float)), 0) << "trial " << trial;
            ASSERT_EQ(std::memcmp(&got.scale, &want.scale, sizeof(float)), 0) << "trial " << trial;
            ++chosen[(got.lag > 0) - (got.lag < 0) + 1];
        }
    }
    // The trials must have exercised both directions and the neutral case.
    EXPECT_GT(chosen[0], 100);
    EXPECT_GE(chosen[1], 8);  // at least the silent subframes
    EXPECT_GT(chosen[2], 100);
}

// ---- adaptive codebook: in place, downward, as first written ----

void ReferenceAdaptiveCodebook(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate)
{
    const int lag = openLoopLag + lagOffset - 1;
    for (int k = 0; k <= 61 - lag; ++k)  // periodic extension over what the taps read
        x[k] = x[k - lag];
    const float* g = (rate == kRate53 || openLoopLag >= 58) ? PitchTapTable170[gainIndex] : PitchTapTable85[gainIndex];
    for (int n = kSubframeLength - 1; n >= 0; --n) {
        const float* s = x + n - lag - 2;
        float sum = static_cast<float>(static_cast<double>(g[0]) * s[0]);
        for (int k = 1; k < 5; ++k)
            sum = static_cast<float>(sum + static_cast<double>(g[k]) * s[k]);
        x[n] = sum;
    }
}

TEST(FastPaths, AdaptiveCodebookMatchesInPlaceFilter)
{
    std::mt19937 rng(7);
    float history[kHistoryLength + kSubframeLength];
    for (int rate : {kRate63, kRate53}) {
        for (int openLoopLag = 18; openLoopLag <= 141; ++openLoopLag) {
            for (int offset = 0; offset <= 3; ++offset) {
                FillExcitation(history, kHistoryLength, openLoopLag, rng);
                const int rows = (rate == kRate53 || openLoopLag >= 58) ? 170 : 85;
                const int gainIndex = static_cast<int>(rng() % rows);
                float want[kHistoryLength + kSubframeLength], got[kHistoryLength + kSubframeLength];
                std::memcpy(want, history, sizeof history);
                std::memcpy(got, history, sizeof history);
                ReferenceAdaptiveCodebook(want + kHistoryLength, openLoopLag, offset, gainIndex, rate);
                DecodeAdaptiveCodebook(got + kHistoryLength, openLoopLag, offset, gainIndex, rate);
                ASSERT_EQ(std::memcmp(got, want, sizeof got), 0)
                    << "rate " << rate << " lag " << openLoopLag << " offset " << offset;
            }
        }
    }
}

// ---- LPC sets: side by side in lanes vs one set at a time ----

TEST(FastPaths, LpcSetsInLanesMatchOneSetAtATime)
{
    // Decoded-like vectors (ascending, 0..256) and values at and past the
    // cosine table's ends and its entries; every set of a frame compared,
    // in the four-set and the two-set form.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float edges[] = {-3.5f,  -0.0f,   0.0f,   1.0f,     127.999f, 128.0f, 255.5f,
                           256.0f, 509.75f, 510.0f, 510.999f, 511.0f,   700.25f};
    for (int trial = 0; trial < 3000; ++trial) {
        float lsp[2][kLpcOrder];
        for (float* v : lsp) {
            float at = unit(rng) * 12.0f - 4.0f;
            for (int i = 0; i < kLpcOrder; ++i) {
                at += unit(rng) * 40.0f;
                v[i] = at;
            }
            if (trial % 3 == 0)
                v[rng() % kLpcOrder] = edges[rng() % (sizeof edges / sizeof edges[0])];
            if (trial % 7 == 0)
                v[rng() % kLpcOrder] = static_cast<float>(rng() % 300);  // a table entry: f = 0
        }
        const float* cur = lsp[0];
        const float* prev = trial % 11 == 0 ? lsp[0] : lsp[1];
        float want[kLpcSetsLength], four[kLpcSetsLength], two[kLpcSetsLength];
        for (int s = 0; s < kSubframes; ++s)
            reference::InterpolateLspSet(want + kLpcOrder * s, s, cur, prev);
        InterpolateLsp(four, cur, prev);
        InterpolateLspPair(two, 0, cur, prev);
        InterpolateLspPair(two + 2 * kLpcOrder, 2, cur, prev);
        ASSERT_EQ(std::memcmp(four, want, sizeof want), 0) << "trial " << trial;
        ASSERT_EQ(std::memcmp(two, want, sizeof want), 0) << "trial " << trial;
    }
}

// ---- synthesis and formant postfilter: overlapped vs one after the other ----

TEST(FastPaths, OverlappedFiltersMatchSeparateFilters)
{
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> coefficient(-0.3f, 0.3f);
    for (int trial = 0; trial < 200; ++trial) {
        float excitation[kFrameLength], lpc[kLpcSetsLength];
        FillExcitation(excitation, kFrameLength, trial % 80, rng);
        if (trial % 10 == 0)
            std::memset(excitation + 60, 0, 60 * sizeof(float));  // a silent subframe: ratio 0
        for (float& a : lpc)
            a = coefficient(rng) * 0.5f;
        float synthesisA[kFilterMemoryLength], synthesisB[kFilterMemoryLength], postA[kFilterMemoryLength],
            postB[kFilterMemoryLength];
        FillExcitation(synthesisA, kLpcOrder, 0, rng);
        FillExcitation(postA, kLpcOrder, 0, rng);
        std::memcpy(synthesisB, synthesisA, sizeof synthesisA);
        std::memcpy(postB, postA, sizeof postA);
        float tiltA = static_cast<float>(trial) * 0.004f - 0.4f, tiltB = tiltA;

        reference::SynthesisFilter(synthesisA, excitation, lpc);
        reference::FormantPostfilter(postA + kLpcOrder, synthesisA + kLpcOrder, lpc, tiltA);
        SynthesizeAndPostfilter(synthesisB, postB, excitation, lpc, tiltB);

        ASSERT_EQ(std::memcmp(synthesisA + kLpcOrder, synthesisB + kLpcOrder, 240 * sizeof(float)), 0) << trial;
        ASSERT_EQ(std::memcmp(postA + kLpcOrder, postB + kLpcOrder, 240 * sizeof(float)), 0) << trial;
        ASSERT_EQ(std::memcmp(&tiltA, &tiltB, sizeof(float)), 0) << trial;
    }
}

// ---- voicing decision of a lost frame: one lag at a time, as first written ----

double WindowDot(const float* a, const float* b)
{
    double sum = 0.0;
    for (int j = 0; j < 120; ++j)
        sum += static_cast<double>(a[j]) * b[j];
    return sum;
}

int32_t ReferenceClassify(const float* window, int32_t lagEstimate)
{
    const int centre = lagEstimate > 142 ? 142 : lagEstimate;
    float best = 0.0f;
    int lag = 0;
    for (int i = centre - 3; i <= centre + 3; ++i) {
        const double r = WindowDot(window, window - i);
        if (r > best) {
            best = static_cast<float>(r);
            lag = i;
        }
    }
    if (lag == 0)
        return 0;
    const float e0 = static_cast<float>(WindowDot(window, window));
    const float e1 = static_cast<float>(WindowDot(window - lag, window - lag));
    return static_cast<double>(e0) * e1 < 5.0 * best * best ? lag : 0;
}

TEST(FastPaths, LostFrameVoicingMatchesOneLagAtATime)
{
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> lagDist(18, 147);
    float history[kHistoryLength];
    int voiced = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const int lag = lagDist(rng);
        FillExcitation(history, kHistoryLength, trial % 3 == 0 ? 0 : lag + trial % 9 - 4, rng);
        const float* window = history + kHistoryLength - 120;
        const int32_t want = ReferenceClassify(window, lag);
        ASSERT_EQ(ClassifyLostFrame(window, lag), want) << "trial " << trial << " lag " << lag;
        voiced += want != 0;
    }
    EXPECT_GT(voiced, 100);
    EXPECT_LT(voiced, 550);
}

// ---- concealment noise: four runs of the generator vs one value at a time ----

TEST(FastPaths, ConcealmentNoiseMatchesOneValueAtATime)
{
    // Every seed class the strides could get wrong: zero, both signs, the
    // extremes, and the seed and history the frame leaves.
    std::mt19937 rng(3);
    const int16_t seeds[] = {0, 1, -1, 32767, -32768, 259, static_cast<int16_t>(rng()), static_cast<int16_t>(rng())};
    for (int16_t start : seeds) {
        for (float gain : {1.0f, 0.875f, 2345.5f}) {
            float h[kExcitationLength], e[kFrameLength];
            std::fill(h, h + kExcitationLength, 7.0f);
            int16_t seed = start;
            RegenerateExcitation(h + kHistoryLength, e, 0, gain, 1, seed);
            int16_t want = start;
            const float g = static_cast<float>(gain * (1.0 / 32768.0));
            for (int i = 0; i < kFrameLength; ++i) {
                const float noise = static_cast<float>(NextRandom(want) * static_cast<double>(g));
                ASSERT_EQ(std::memcmp(&e[i], &noise, sizeof noise), 0) << "seed " << start << " sample " << i;
                ASSERT_EQ(h[kHistoryLength + i], 0.0f);
            }
            EXPECT_EQ(seed, want) << "seed " << start;
        }
    }
}

TEST(FastPaths, ConcealmentRepetitionMatchesUpwardCopy)
{
    // Every lag the voicing decision can return, periods shorter and longer
    // than the frame.
    std::mt19937 rng(4);
    for (int lag = 15; lag <= kLongestLag; ++lag) {
        float want[kExcitationLength], got[kExcitationLength], e[kFrameLength];
        FillExcitation(want, kExcitationLength, lag, rng);
        std::memcpy(got, want, sizeof want);
        const float gain = lag % 2 ? 0.875f : 0.65625f;
        float* c = want + kHistoryLength;
        for (int i = 0; i < kFrameLength; ++i)
            c[i] = c[i - lag];
        for (int i = 0; i < kFrameLength; ++i)
            c[i] = static_cast<float>(static_cast<double>(c[i]) * gain);
        int16_t seed = 5;
        RegenerateExcitation(got + kHistoryLength, e, lag, gain, 2, seed);
        ASSERT_EQ(std::memcmp(got, want, sizeof want), 0) << "lag " << lag;
        ASSERT_EQ(std::memcmp(e, want + kHistoryLength, sizeof e), 0) << "lag " << lag;
        EXPECT_EQ(seed, 5);
    }
}

// ---- unpacking: fields packed into a frame come back ----

// Random fields of a good frame: every value each field can carry.
FrameParams RandomFields(int rate, std::mt19937& rng)
{
    auto draw = [&rng](int32_t count) { return static_cast<int32_t>(rng() % static_cast<uint32_t>(count)); };
    FrameParams p = {};
    for (int32_t& index : p.lspIndex)
        index = draw(kLspBandRows);
    for (int32_t& lag : p.openLoopLag)
        lag = kMinLag + draw(kLagCodeLimit);
    for (int i = 0; i < kSubframes; ++i) {
        SubframeParams& sub = p.sub[i];
        const bool shortLag = rate == kRate63 && p.openLoopLag[i / 2] < kShortLagLimit;
        sub.lagOffset = i % 2 == 0 ? 1 : draw(4);
        sub.gainIndex = draw(shortLag ? kPitchTapRowsShort : kPitchTapRowsLong);
        sub.trainFlag = shortLag ? draw(2) : 0;
        sub.ampIndex = draw(kFixedGains);
        sub.grid = draw(2);
        if (rate == kRate63) {
            sub.pulseSigns = draw(i % 2 == 0 ? 64 : 32);
            sub.pulsePositions = draw(i % 2 == 0 ? 65536 : 16384);
        } else {
            sub.pulseSigns = draw(16);
            sub.pulsePositions = draw(4096);
        }
    }
    if (rate == kRate63) {
        // The high parts of the position codes: digits of one 13-bit number.
        const int32_t combined = draw(8192);
        const int32_t high[kSubframes] = {combined / 810, (combined / 90) % 9, (combined % 90) / 9, combined % 9};
        for (int i = 0; i < kSubframes; ++i)
            p.sub[i].pulsePositions += high[i] << (i % 2 == 0 ? 16 : 14);
    }
    return p;
}

TEST(FastPaths, UnpackingReturnsThePackedFields)
{
    // Each field at its extremes and between, both rates; the bytes past a
    // 20-byte frame hold noise that must be ignored.
    std::mt19937 rng(5);
    for (int trial = 0; trial < 4000; ++trial) {
        const int rate = trial % 2 == 0 ? kRate63 : kRate53;
        uint8_t frame[kMaxFrameBytes];
        for (uint8_t& b : frame)
            b = static_cast<uint8_t>(rng());
        const FrameParams want = RandomFields(rate, rng);
        reference::PackFrame(frame, want, rate);
        FrameParams got;
        std::memset(&got, 0x5a, sizeof got);  // every field must be written
        ASSERT_EQ(UnpackFrame(got, frame, rate, 0), rate == kRate63 ? 24 : 20);
        ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "trial " << trial;
    }
}

// ---- excitation: both codebooks in one pass vs one after the other ----

TEST(FastPaths, ExcitationMatchesCodebooksOneAfterTheOther)
{
    // Random good frames of both rates over a speech-like history, lags
    // forced to the extremes now and then (17 and 143 after the offsets);
    // the plain form runs the in-place adaptive codebook, then adds the
    // fixed-codebook vector in double precision.
    std::mt19937 rng(23);
    for (int trial = 0; trial < 2000; ++trial) {
        const int rate = trial % 2 == 0 ? kRate63 : kRate53;
        FrameParams params = RandomFields(rate, rng);
        if (trial % 5 == 1) {
            params.openLoopLag[1] = trial % 10 == 1 ? kMinLag : kMaxOpenLoopLag;
            params.sub[3].lagOffset = trial % 10 == 1 ? 0 : 3;
            params.sub[2].trainFlag = params.sub[3].trainFlag = 0;  // the train flag needs a short lag
            if (rate == kRate63 && params.openLoopLag[1] < kShortLagLimit) {
                params.sub[2].gainIndex %= kPitchTapRowsShort;
                params.sub[3].gainIndex %= kPitchTapRowsShort;
            }
        }
        float want[kExcitationLength], got[kExcitationLength];
        FillExcitation(want, kHistoryLength, trial % 3 == 0 ? 0 : params.openLoopLag[0], rng);
        if (trial % 4 == 3) {
            // Values at float's ends: products that overflow or are
            // subnormal, signed zeros.
            const float extremes[] = {0.0f, -0.0f, 3.0e38f, -3.0e38f, 1.0e-40f, -2.5e-39f, 1.0e-30f};
            for (int k = 0; k < 8; ++k)
                want[kHistoryLength - 1 - static_cast<int>(rng() % kLongestLag)] = extremes[rng() % 7];
        }
        std::memcpy(got, want, sizeof(float) * kHistoryLength);
        for (int i = 0; i < kSubframes; ++i) {
            float* x = want + kHistoryLength + kSubframeLength * i;
            const SubframeParams& sub = params.sub[i];
            ReferenceAdaptiveCodebook(x, params.openLoopLag[i / 2], sub.lagOffset, sub.gainIndex, rate);
            float v[kPulseVectorLength];
            MakeFixedCodebookVector(v, params, rate, i);
            for (int n = 0; n < kSubframeLength; ++n)
                x[n] = static_cast<float>(static_cast<double>(x[n]) + v[n]);
        }
        DecodeExcitation(got + kHistoryLength, params, rate);
        ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << "trial " << trial;

        // The two stages apart, as the benchmarks run them.
        std::memcpy(got + kHistoryLength, want + kHistoryLength, sizeof(float) * kFrameLength);
        std::memcpy(got, want, sizeof(float) * kHistoryLength);
        for (int i = 0; i < kSubframes; ++i) {
            float* x = got + kHistoryLength + kSubframeLength * i;
            DecodeAdaptiveCodebook(x, params.openLoopLag[i / 2], params.sub[i].lagOffset, params.sub[i].gainIndex,
                                   rate);
            DecodeFixedCodebook(x, params, rate, i);
        }
        ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << "trial " << trial << ", stages apart";
    }
}

}  // namespace
}  // namespace mervox
