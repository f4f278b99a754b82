// Every lane kernel this machine runs against the single-stream filters
// (SynthesizeAndPostfilter, then ConvertToPcm16), bit for bit: the filter
// histories, the tilt and the 16-bit output of every stream, for any number of streams
// (whole registers, partial ones, two registers side by side), on speech-like
// frames, on frames built to land on the rounding and saturation limits of
// the output, and on frames that overflow to infinities and NaNs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "codec_facts.h"
#include "postfilter/filter_lanes.h"
#include "postfilter/postfilter.h"

namespace mervox {
namespace {

struct StreamFrame {
    float synthesis[kFilterMemoryLength];
    float postfiltered[kFilterMemoryLength];
    float excitation[kFrameLength];
    float lpc[kSubframes * kLpcOrder];
    float tilt;
    int16_t pcm[kFrameLength];

    LaneStream Lane() { return LaneStream{synthesis, postfiltered, excitation, lpc, &tilt, pcm}; }
};

enum class Kind { kSpeech, kOutputLimits, kOverflow, kSilence };

StreamFrame MakeFrame(Kind kind, std::mt19937& rng)
{
    StreamFrame f;
    std::memset(&f, 0, sizeof f);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    switch (kind) {
    case Kind::kSpeech:
        // A mildly resonant, stable filter and a pulse train with noise.
        for (int s = 0; s < kSubframes; ++s) {
            f.lpc[kLpcOrder * s] = 0.9f + 0.05f * uniform(rng);
            for (int k = 1; k < kLpcOrder; ++k)
                f.lpc[kLpcOrder * s + k] = 0.08f * uniform(rng);
        }
        for (int i = 0; i < kFrameLength; ++i)
            f.excitation[i] = 400.0f * noise(rng) + (i % 47 == 0 ? 6000.0f : 0.0f);
        for (int k = 0; k < kLpcOrder; ++k) {
            f.synthesis[k] = 3000.0f * noise(rng);
            f.postfiltered[k] = 3000.0f * noise(rng);
        }
        f.tilt = 0.9f * uniform(rng);
        break;
    case Kind::kOutputLimits: {
        // No filtering and no tilt (every other sample zero gives a zero
        // correlation): the output is 33/32 of the input, spread over the
        // rounding and saturation limits of the 16-bit conversion.
        static const float kCentres[] = {0.5f, 1.5f, 2.5f, 32766.5f, 32767.5f, 32768.5f, 1e9f, 0.0f};
        std::uniform_int_distribution<int> centre(0, 7);
        std::uniform_int_distribution<int> step(-3, 3);
        for (int i = 0; i < kFrameLength; i += 2) {
            float v = kCentres[centre(rng)] + 0.0625f * static_cast<float>(step(rng));
            v = uniform(rng) < 0.0f ? -v : v;
            f.excitation[i] = static_cast<float>(v / 1.03125);
        }
        break;
    }
    case Kind::kOverflow:
        // A synthesis filter far from stable: the speech grows past the
        // float range, to infinities and then NaNs.
        for (int s = 0; s < kSubframes; ++s)
            for (int k = 0; k < kLpcOrder; ++k)
                f.lpc[kLpcOrder * s + k] = 1.5f * uniform(rng);
        for (int i = 0; i < kFrameLength; ++i)
            f.excitation[i] = 30000.0f * noise(rng);
        f.excitation[100] = std::numeric_limits<float>::quiet_NaN();
        f.tilt = 0.5f;
        break;
    case Kind::kSilence:
        f.tilt = 0.75f;  // zero energy: the tilt falls to a quarter
        break;
    }
    return f;
}

// The output, the tilt and the filter histories the next frame reads (the
// memories' last ten samples; their first ten are never written).
void ExpectSameFrame(const StreamFrame& got, const StreamFrame& want, const char* variant, int stream)
{
    constexpr size_t kHistoryBytes = kLpcOrder * sizeof(float);
    for (size_t start : {size_t{0}, size_t{kFrameLength}}) {
        EXPECT_EQ(std::memcmp(got.synthesis + start, want.synthesis + start, kHistoryBytes), 0)
            << variant << " stream " << stream;
        EXPECT_EQ(std::memcmp(got.postfiltered + start, want.postfiltered + start, kHistoryBytes), 0)
            << variant << " stream " << stream;
    }
    EXPECT_EQ(std::memcmp(&got.tilt, &want.tilt, sizeof got.tilt), 0) << variant << " stream " << stream;
    EXPECT_EQ(std::memcmp(got.pcm, want.pcm, sizeof got.pcm), 0) << variant << " stream " << stream;
}

std::vector<LaneVariant> SupportedVariants()
{
    std::vector<LaneVariant> v;
    for (LaneVariant variant : kAllLaneVariants)
        if (variant != LaneVariant::kScalar && LaneVariantSupported(variant))
            v.push_back(variant);
    return v;
}

TEST(FilterLanes, EveryVariantMatchesTheSingleStreamFilters)
{
    const std::vector<LaneVariant> variants = SupportedVariants();
    ASSERT_FALSE(variants.empty());
    std::mt19937 rng(16);
    std::uniform_int_distribution<int> kind(0, 3);
    // Counts below, at and past each register width and pair of registers.
    for (int count : {1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 31, 33}) {
        for (int round = 0; round < 3; ++round) {
            std::vector<StreamFrame> input;
            for (int k = 0; k < count; ++k)
                input.push_back(MakeFrame(static_cast<Kind>(kind(rng)), rng));
            std::vector<StreamFrame> want = input;
            for (StreamFrame& f : want) {
                SynthesizeAndPostfilter(f.synthesis, f.postfiltered, f.excitation, f.lpc, f.tilt);
                ConvertToPcm16(f.pcm, f.postfiltered + kLpcOrder);
            }
            for (LaneVariant variant : variants) {
                std::vector<StreamFrame> got = input;
                std::vector<LaneStream> lanes;
                for (StreamFrame& f : got)
                    lanes.push_back(f.Lane());
                FilterLanes(lanes.data(), count, variant);
                for (size_t k = 0; k < got.size(); ++k)
                    ExpectSameFrame(got[k], want[k], LaneVariantName(variant), static_cast<int>(k));
            }
        }
    }
}

TEST(FilterLanes, OutputsGoExactlyWhereEachStreamPointsThem)
{
    // The kernels move each stream's samples out of lane layout straight to
    // its output: outputs at any 16-bit alignment, in any order in one
    // buffer, get their 240 samples and not one sample more, for whole and
    // partial registers and groups of registers.
    std::mt19937 rng(5);
    constexpr int16_t kGuard = 0x7e7e;
    constexpr size_t kGap = 3;  // guard samples between outputs: no two are 16-byte aligned alike
    for (int count : {2, 3, 5, 6, 9, 13, 16, 17, 27}) {
        std::vector<StreamFrame> input;
        for (int k = 0; k < count; ++k)
            input.push_back(MakeFrame(Kind::kSpeech, rng));
        std::vector<StreamFrame> want = input;
        for (StreamFrame& f : want) {
            SynthesizeAndPostfilter(f.synthesis, f.postfiltered, f.excitation, f.lpc, f.tilt);
            ConvertToPcm16(f.pcm, f.postfiltered + kLpcOrder);
        }
        for (LaneVariant variant : SupportedVariants()) {
            std::vector<StreamFrame> got = input;
            std::vector<int16_t> buffer(1 + static_cast<size_t>(count) * (kFrameLength + kGap), kGuard);
            std::vector<LaneStream> lanes;
            for (int k = 0; k < count; ++k) {
                lanes.push_back(got[static_cast<size_t>(k)].Lane());
                // Stream k's output in slot count - 1 - k, one sample in.
                lanes.back().pcm = buffer.data() + 1 + static_cast<size_t>(count - 1 - k) * (kFrameLength + kGap);
            }
            FilterLanes(lanes.data(), count, variant);
            for (int k = 0; k < count; ++k) {
                const int16_t* out = lanes[static_cast<size_t>(k)].pcm;
                EXPECT_EQ(std::memcmp(out, want[static_cast<size_t>(k)].pcm, sizeof want[0].pcm), 0)
                    << LaneVariantName(variant) << " count " << count << " stream " << k;
            }
            size_t guards = 0;
            for (int16_t v : buffer)
                guards += v == kGuard;
            EXPECT_EQ(guards, 1 + static_cast<size_t>(count) * kGap) << LaneVariantName(variant) << " count " << count;
        }
    }
}

TEST(FilterLanes, FramesCoverTheLimitsTheyAreMeantFor)
{
    // The limit and overflow frames really reach saturation, the rounding
    // of halves, and NaN, or the comparison above proves less than it says.
    std::mt19937 rng(3);
    bool saturated = false, half = false, nan = false;
    for (int round = 0; round < 8; ++round) {
        StreamFrame limits = MakeFrame(Kind::kOutputLimits, rng);
        StreamFrame overflow = MakeFrame(Kind::kOverflow, rng);
        for (StreamFrame* f : {&limits, &overflow})
            SynthesizeAndPostfilter(f->synthesis, f->postfiltered, f->excitation, f->lpc, f->tilt);
        for (int i = 0; i < kFrameLength; ++i) {
            const float v = limits.postfiltered[kLpcOrder + i];
            saturated = saturated || std::fabs(v) > 32768.0f;
            half = half || (v != std::floor(v) && v - std::floor(v) == 0.5f);
            nan = nan || std::isnan(overflow.postfiltered[kLpcOrder + i]);
        }
    }
    EXPECT_TRUE(saturated);
    EXPECT_TRUE(half);
    EXPECT_TRUE(nan);
}

TEST(FilterLanes, ChoiceFollowsTheProcessor)
{
    EXPECT_TRUE(LaneVariantSupported(LaneVariant::kScalar));
    const LaneVariant best = BestLaneVariant();
    EXPECT_TRUE(LaneVariantSupported(best));
#if defined(__x86_64__)
    EXPECT_NE(best, LaneVariant::kScalar);  // SSE2 is part of every x86-64 processor
#endif
    EXPECT_STREQ(LaneVariantName(LaneVariant::kAvx2), "avx2");
    for (LaneVariant variant : SupportedVariants())  // register width times registers
        EXPECT_EQ(LaneGroupSize(variant) % (variant == LaneVariant::kSse2   ? 2
                                            : variant == LaneVariant::kAvx2 ? 4
                                                                            : 8),
                  0)
            << LaneVariantName(variant);
}

}  // namespace
}  // namespace mervox
