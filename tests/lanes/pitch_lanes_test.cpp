// The pitch postfilter with every vector variant of its lag search that this
// machine runs (one, two, four or eight lags a register) against the
// postfilter computed one lag at a time (reference.h), bit for bit: on the
// excitation of every good frame of the corpus streams, on random
// excitations built to choose backward and forward lags, on lags at the
// limits (the centre held at 142, forward lags cut at the frame's end),
// and on silent and overflowing excitations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "codec_facts.h"
#include "interface/decoder_state.h"
#include "postfilter/filter_lanes.h"
#include "postfilter/postfilter.h"
#include "reference.h"
#include "supported_variants.h"
#include "test_support.h"

namespace mervox {
namespace {

// Kinds of choice the checked frames made (reference), so that a test can
// show it reached both directions and the neutral case.
struct ChoiceCounts {
    int backward = 0, none = 0, forward = 0;
};

// Runs every variant on the frame x[0..239] (x[-145..-1] its history) and
// compares with the reference. Returns false (after reporting) on the first
// difference.
bool CheckFrame(const float* x, const int32_t openLoopLag[kHalfFrames], const std::string& what,
                ChoiceCounts* counts = nullptr)
{
    float want[kFrameLength];
    reference::PitchPostfilter(want, x, openLoopLag);
    if (counts) {
        for (int s = 0; s < kSubframes; ++s) {
            const int lag = reference::ChoosePitchPostfilter(x + kSubframeLength * s, openLoopLag[s / 2], s).lag;
            (lag < 0 ? counts->backward : lag > 0 ? counts->forward : counts->none) += 1;
        }
    }
    for (LaneVariant variant : SupportedVariants()) {
        float got[kFrameLength];
        std::memset(got, 0xff, sizeof got);
        PitchPostfilter(got, x, openLoopLag, variant);
        if (std::memcmp(got, want, sizeof got) != 0) {
            int n = 0;
            while (std::memcmp(&got[n], &want[n], sizeof(float)) == 0)
                ++n;
            ADD_FAILURE() << what << ", variant " << LaneVariantName(variant) << ": sample " << n << " is " << got[n]
                          << ", want " << want[n] << " (lags " << openLoopLag[0] << ", " << openLoopLag[1] << ")";
            return false;
        }
    }
    return true;
}

// A frame's excitation with its history, as the decoder keeps it.
struct Excitation {
    float data[kExcitationLength] = {};
    float* Frame() { return data + kHistoryLength; }
};

// Pulses every `period` samples (0: none) plus noise, at a random level.
void FillPeriodic(Excitation& e, int period, std::mt19937& rng)
{
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_real_distribution<float> level(1.0f, 3000.0f);
    const float amp = level(rng);
    for (int i = 0; i < kExcitationLength; ++i)
        e.data[i] = amp * (0.2f * noise(rng) + ((period && i % period == 0) ? 4.0f : 0.0f));
}

TEST(PitchLanes, CorpusFramesMatchOneLagAtATime)
{
    for (const char* stem : {"speech-a.63", "speech-a.53", "speech-a.mixed"}) {
        const std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath(std::string("corpus/") + stem + ".bit"));
        DecoderState state;
        ChoiceCounts counts;
        int frames = 0;
        for (const test::StreamFrame& f : test::SplitStream(bytes)) {
            if (!f.speech)
                continue;
            uint8_t frame[kMaxFrameBytes] = {};
            std::memcpy(frame, bytes.data() + f.offset, f.length);
            const int rate = frame[0] & 1;
            FrameWork work;
            state.BeginFrame(work, frame, rate, 0, false);
            float* x = state.excitation + kHistoryLength;
            if (work.good) {
                ++frames;
                ASSERT_TRUE(
                    CheckFrame(x, work.openLoopLag, std::string(stem) + " frame " + std::to_string(frames), &counts));
                int16_t pcm[kFrameLength];
                FilterGoodFrame(state.synthesisMemory, state.postfilterMemory, work.pfExcitation, work.curLsp,
                                state.prevLsp, work.lpc, state.postfilterTilt, pcm);
            } else {
                SynthesizeAndPostfilter(state.synthesisMemory, state.postfilterMemory, work.pfExcitation, work.lpc,
                                        state.postfilterTilt);
            }
            state.AdvanceFrame(work.curLsp);
        }
        EXPECT_GT(frames, 1000) << stem;
        EXPECT_GT(counts.backward, 100) << stem;
        EXPECT_GT(counts.forward, 100) << stem;
    }
}

TEST(PitchLanes, RandomExcitationsMatchOneLagAtATime)
{
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> lagDist(kMinLag, 150);  // above 142 the centre is held at 142
    std::uniform_int_distribution<int> periodDist(0, 150);
    ChoiceCounts counts;
    for (int trial = 0; trial < 600; ++trial) {
        const int32_t lags[kHalfFrames] = {lagDist(rng), lagDist(rng)};
        // Mostly periodic near a searched lag, so that lags are chosen.
        const int period = trial % 4 == 0 ? periodDist(rng) : lags[trial % 2] + trial % 7 - 3;
        Excitation e;
        FillPeriodic(e, period, rng);
        if (trial % 40 == 0)  // a silent subframe
            std::memset(e.Frame() + kSubframeLength * (trial / 40 % kSubframes), 0, kSubframeLength * sizeof(float));
        ASSERT_TRUE(CheckFrame(e.Frame(), lags, "trial " + std::to_string(trial), &counts));
    }
    EXPECT_GT(counts.backward, 300);
    EXPECT_GT(counts.forward, 300);
    EXPECT_GE(counts.none, 15);
}

TEST(PitchLanes, LagsAtTheLimitsMatchOneLagAtATime)
{
    std::mt19937 rng(145);
    // Every open-loop lag a frame can carry and the values above the centre
    // limit, with pulses at the lag itself and at the neighbouring lags:
    // subframe 1 cuts forward lags at 120 and subframe 2 at 60, so centres
    // near those put the cut inside the seven candidates (and a periodic
    // excitation at the cut or just past it makes the cut decide).
    for (int lag = kMinLag; lag <= 150; ++lag) {
        for (int offset : {-3, 0, 1, 3}) {
            Excitation e;
            FillPeriodic(e, lag + offset, rng);
            const int32_t lags[kHalfFrames] = {lag, lag};
            ASSERT_TRUE(CheckFrame(e.Frame(), lags, "lag " + std::to_string(lag) + "+" + std::to_string(offset)));
        }
    }
    // Pulses one past the cut: the best forward candidate is not allowed.
    for (int cut : {60, 120}) {
        for (int lag = cut - 3; lag <= cut + 4; ++lag) {
            Excitation e;
            FillPeriodic(e, cut + 1, rng);
            const int32_t lags[kHalfFrames] = {lag, lag};
            ASSERT_TRUE(CheckFrame(e.Frame(), lags, "cut " + std::to_string(cut) + " lag " + std::to_string(lag)));
        }
    }
}

TEST(PitchLanes, SilentAndOverflowingExcitationsMatch)
{
    // Silence: no lag anywhere, the excitation passes unchanged.
    Excitation silent;
    const int32_t lags[kHalfFrames] = {40, 141};
    ASSERT_TRUE(CheckFrame(silent.Frame(), lags, "silence"));
    float out[kFrameLength];
    PitchPostfilter(out, silent.Frame(), lags, BestLaneVariant());
    for (float v : out)
        ASSERT_EQ(v, 0.0f);

    // Values whose squares and correlations overflow to infinity, and one
    // NaN: the choice follows the same comparisons with them.
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (int trial = 0; trial < 20; ++trial) {
        Excitation e;
        for (float& v : e.data)
            v = 3e38f * noise(rng) / 4.0f;
        if (trial % 2)
            e.Frame()[trial * 11] = std::numeric_limits<float>::quiet_NaN();
        const int32_t big[kHalfFrames] = {18 + trial * 6, 141 - trial * 6};
        ASSERT_TRUE(CheckFrame(e.Frame(), big, "overflow " + std::to_string(trial)));
    }
}

}  // namespace
}  // namespace mervox
