// The floor: what any bit-exact decoder must spend per frame. The synthesis
// filter and the formant postfilter are recursions whose every output sample
// ends a serial chain of double-precision additions in a fixed order (ten
// and six products, then the input term), and each sample feeds the next, so
// no implementation can shorten them. Everything else in a frame is measured
// against this: Decode/<stream> divided by Floor is independent of the
// machine's speed.
//
// Written exactly in the decoder's order, without any other work: the
// formant weights and the tilt factors are prepared outside the timed loop.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "benchmarks.h"
#include "postfilter/filter_steps.h"
#include "tables/tables.h"

namespace mervox::bench {
namespace {

struct FloorInputs {
    float synthesis[kFilterMemoryLength];     // [0..9] history, the rest written
    float postfiltered[kFilterMemoryLength];  // [4..9] history, the rest written
    float excitation[kFrameLength];
    float lpc[4 * kLpcOrder];
    float weights[kSubframes][6];
    float tiltFactor[kSubframes];
};

void FloorRecursions(FloorInputs& in)
{
    float* y = in.synthesis + kLpcOrder;
    for (int i = 0; i < kFrameLength; ++i) {
        const float* a = in.lpc + kLpcOrder * (i / kSubframeLength);
        double sum = static_cast<double>(a[0]) * y[i - 1];
        for (int k = 1; k < kLpcOrder; ++k)
            sum += static_cast<double>(a[k]) * y[i - 1 - k];
        y[i] = static_cast<float>(sum + in.excitation[i]);
    }
    float* z = in.postfiltered + kLpcOrder;
    for (int i = 0; i < kFrameLength; ++i) {
        const float* w = in.weights[i / kSubframeLength];
        const double t = in.tiltFactor[i / kSubframeLength];
        double sum = static_cast<double>(w[0]) * z[i - 1];
        for (int k = 1; k < kFormantOrder; ++k)
            sum += static_cast<double>(w[k]) * z[i - 1 - k];
        z[i] = static_cast<float>(sum + kFormantInputGain * (y[i] - t * y[i - 1]));
    }
}

// The same two recursions overlapped, as the decoder runs them: subframe
// s + 1 synthesized in the loop that postfilters subframe s, the recent
// outputs in registers. Nothing else: the weights and tilt factors are
// prepared, as for the floor. This is the shortest time a bit-exact decoder
// of one stream can take, the length of the two chains when each runs in
// the other's shadow.
void OverlappedChains(FloorInputs& in)
{
    float* x = in.synthesis + kLpcOrder;
    float* y = in.postfiltered + kLpcOrder;
    RecentOutputs<kLpcOrder> recentX;
    RecentOutputs<kFormantOrder> recentY;
    recentX.Load(x);
    recentY.Load(y);
    FormantSubframe f[kSubframes];
    for (int s = 0; s < kSubframes; ++s) {
        for (int k = 0; k < kFormantOrder; ++k)
            f[s].w[k] = in.weights[s][k];
        f[s].t = in.tiltFactor[s];
    }
    SynthesisCoefficients c = MakeSynthesisCoefficients(in.lpc);
    for (int n = 0; n < kSubframeLength; ++n) {
        x[n] = SynthesisStep(recentX, c, in.excitation[n]);
        recentX.Push(x[n]);
    }
    for (int s = 1; s < kSubframes; ++s) {
        const int cur = kSubframeLength * s;
        const int prev = cur - kSubframeLength;
        c = MakeSynthesisCoefficients(in.lpc + kLpcOrder * s);
        for (int n = 0; n < kSubframeLength; ++n) {
            x[cur + n] = SynthesisStep(recentX, c, in.excitation[cur + n]);
            recentX.Push(x[cur + n]);
            y[prev + n] = FormantStep(recentY, x + prev + n, f[s - 1]);
            recentY.Push(y[prev + n]);
        }
    }
    const int last = kFrameLength - kSubframeLength;
    for (int n = 0; n < kSubframeLength; ++n) {
        y[last + n] = FormantStep(recentY, x + last + n, f[kSubframes - 1]);
        recentY.Push(y[last + n]);
    }
}

std::vector<FloorInputs> MakeFloorInputs(const std::vector<FrameInputs>& frames)
{
    std::vector<FloorInputs> floor(frames.size());
    for (size_t f = 0; f < frames.size(); ++f) {
        const FrameInputs& in = frames[f];
        FloorInputs& out = floor[f];
        std::memcpy(out.synthesis, in.before.synthesisMemory, sizeof out.synthesis);
        std::memcpy(out.postfiltered, in.before.postfilterMemory, sizeof out.postfiltered);
        std::memcpy(out.excitation, in.pfExcitation, sizeof out.excitation);
        std::memcpy(out.lpc, in.lpc, sizeof out.lpc);
        for (int s = 0; s < kSubframes; ++s) {
            for (int k = 0; k < 6; ++k)
                out.weights[s][k] =
                    static_cast<float>(static_cast<double>(FormantWeightTable[k + 1]) * in.lpc[kLpcOrder * s + k]);
            out.tiltFactor[s] = in.tiltFactor[s];
        }
        // The floor must compute what the decoder computes.
        FloorInputs overlapped = out;
        FloorRecursions(out);
        OverlappedChains(overlapped);
        if (std::memcmp(out.postfiltered, in.postfiltered, sizeof out.postfiltered) != 0 ||
            std::memcmp(overlapped.postfiltered, in.postfiltered, sizeof out.postfiltered) != 0) {
            std::fprintf(stderr, "mervox_bench: the floor recursions differ from the decoder's filters\n");
            std::exit(3);
        }
    }
    return floor;
}

}  // namespace

void RegisterFloorBenchmark(const std::vector<FrameInputs>& frames)
{
    benchmark::RegisterBenchmark("Floor", [floor = MakeFloorInputs(frames)](benchmark::State& state) mutable {
        size_t f = 0;
        for (auto _ : state) {
            FloorRecursions(floor[f]);
            benchmark::DoNotOptimize(floor[f].postfiltered[kFilterMemoryLength - 1]);
            benchmark::ClobberMemory();
            f = f + 1 < floor.size() ? f + 1 : 0;
        }
    });
    benchmark::RegisterBenchmark("Chains", [floor = MakeFloorInputs(frames)](benchmark::State& state) mutable {
        size_t f = 0;
        for (auto _ : state) {
            OverlappedChains(floor[f]);
            benchmark::DoNotOptimize(floor[f].postfiltered[kFilterMemoryLength - 1]);
            benchmark::ClobberMemory();
            f = f + 1 < floor.size() ? f + 1 : 0;
        }
    });
}

}  // namespace mervox::bench
