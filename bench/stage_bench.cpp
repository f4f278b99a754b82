// One benchmark per decoder stage, each timing one frame's worth of the
// stage on real inputs captured from the corpus (frame_inputs.h), so that a
// regression points at its stage.
#include <benchmark/benchmark.h>

#include <string>

#include "benchmarks.h"
#include "concealment/concealment.h"
#include "excitation/excitation.h"
#include "lsp/lsp.h"
#include "postfilter/filter_lanes.h"
#include "postfilter/postfilter.h"
#include "reference.h"

namespace mervox::bench {
namespace {

// Registers "Stage/<name>", running fn on the next captured frame each
// iteration.
template <class Fn>
void RegisterStage(const std::string& name, std::vector<FrameInputs>& frames, Fn fn)
{
    benchmark::RegisterBenchmark(("Stage/" + name).c_str(), [&frames, fn](benchmark::State& state) {
        size_t f = 0;
        for (auto _ : state) {
            fn(frames[f]);
            benchmark::ClobberMemory();
            f = f + 1 < frames.size() ? f + 1 : 0;
        }
    });
}

void RegisterRateStages(const std::string& rate, std::vector<FrameInputs>& frames)
{
    RegisterStage("Unpack/" + rate, frames, [](FrameInputs& in) {
        FrameParams params;
        UnpackFrame(params, in.frame, in.rate, 0);
        benchmark::DoNotOptimize(params);
    });
    RegisterStage("AdaptiveCodebook/" + rate, frames, [](FrameInputs& in) {
        for (int i = 0; i < kSubframes; ++i)
            DecodeAdaptiveCodebook(in.scratch + kHistoryLength + kSubframeLength * i, in.params.openLoopLag[i / 2],
                                   in.params.sub[i].lagOffset, in.params.sub[i].gainIndex, in.rate);
    });
    RegisterStage("FixedCodebook/" + rate, frames, [](FrameInputs& in) {
        for (int i = 0; i < kSubframes; ++i)
            DecodeFixedCodebook(in.scratch + kHistoryLength + kSubframeLength * i, in.params, in.rate, i);
    });
    // Both codebooks as the decoder runs them: in one pass a subframe.
    RegisterStage("Excitation/" + rate, frames,
                  [](FrameInputs& in) { DecodeExcitation(in.scratch + kHistoryLength, in.params, in.rate); });
    // The frame's lag searches and their application, per vector variant
    // of the search (the single-stream path runs the searches as sse2 does).
    for (LaneVariant variant : kAllLaneVariants) {
        if (!LaneVariantSupported(variant))
            continue;
        RegisterStage("PitchPostfilter/" + rate + "/" + LaneVariantName(variant), frames, [variant](FrameInputs& in) {
            float pf[kFrameLength];
            PitchPostfilter(pf, in.excitation + kHistoryLength, in.params.openLoopLag, variant);
            benchmark::DoNotOptimize(pf);
        });
    }
}

}  // namespace

void RegisterStageBenchmarks(std::vector<FrameInputs>& frames63, std::vector<FrameInputs>& frames53,
                             std::vector<FrameInputs>& firstLost)
{
    RegisterRateStages("6.3", frames63);
    RegisterRateStages("5.3", frames53);

    // Rate-independent stages, on the 6.3 kbit/s frames.
    RegisterStage("LspDecode", frames63, [](FrameInputs& in) {
        float lsp[kLpcOrder];
        DecodeLsp(lsp, in.before.prevLsp, in.params.lspIndex, 0);
        benchmark::DoNotOptimize(lsp);
    });
    RegisterStage("LspInterpolate", frames63, [](FrameInputs& in) {
        float lpc[kLpcSetsLength];
        InterpolateLsp(lpc, in.curLsp, in.before.prevLsp);
        benchmark::DoNotOptimize(lpc);
    });
    RegisterStage("Synthesis", frames63,
                  [](FrameInputs& in) { reference::SynthesisFilter(in.synthesis, in.pfExcitation, in.lpc); });
    RegisterStage("FormantPostfilter", frames63, [](FrameInputs& in) {
        float tilt = in.before.postfilterTilt;
        reference::FormantPostfilter(in.postfiltered + kLpcOrder, in.synthesis + kLpcOrder, in.lpc, tilt);
        benchmark::DoNotOptimize(tilt);
    });
    // Both filters as the decoder runs them: overlapped.
    RegisterStage("SynthesizeAndPostfilter", frames63, [](FrameInputs& in) {
        float tilt = in.before.postfilterTilt;
        SynthesizeAndPostfilter(in.synthesis, in.postfiltered, in.pfExcitation, in.lpc, tilt);
        benchmark::DoNotOptimize(tilt);
    });
    // A good frame from its pitch-postfiltered excitation to its output, as
    // the decoder runs it: LPC sets, both filters and the conversion, the
    // work that does not depend on the chains overlapped with them.
    RegisterStage("FilterGoodFrame", frames63, [](FrameInputs& in) {
        float tilt = in.before.postfilterTilt;
        int16_t pcm[kFrameLength];
        float lpc[4 * kLpcOrder];
        FilterGoodFrame(in.synthesis, in.postfiltered, in.pfExcitation, in.curLsp, in.before.prevLsp, lpc, tilt, pcm);
        benchmark::DoNotOptimize(pcm);
    });
    // Both filters and the output conversion of 64 frames side by side, per
    // lane kernel; the time is per frame ("streams" counter).
    for (LaneVariant variant : kAllLaneVariants) {
        if (!LaneVariantSupported(variant))
            continue;
        const std::string name = std::string("Stage/FilterLanes/") + LaneVariantName(variant);
        benchmark::RegisterBenchmark(name.c_str(), [&frames63, variant](benchmark::State& state) {
            constexpr int kStreams = 64;
            static int16_t pcm[kStreams][kFrameLength];
            static float tilt[kStreams];
            LaneStream lanes[kStreams];
            for (int k = 0; k < kStreams; ++k) {
                FrameInputs& in = frames63[static_cast<size_t>(k * 3) % frames63.size()];
                tilt[k] = in.before.postfilterTilt;
                lanes[k] = LaneStream{in.synthesis, in.postfiltered, in.pfExcitation, in.lpc, &tilt[k], pcm[k]};
            }
            for (auto _ : state) {
                FilterLanes(lanes, kStreams, variant);
                benchmark::ClobberMemory();
            }
            state.counters["streams"] = kStreams;
        });
    }
    RegisterStage("ConvertPcm16", frames63, [](FrameInputs& in) {
        int16_t pcm[kFrameLength];
        ConvertToPcm16(pcm, in.postfiltered + kLpcOrder);
        benchmark::DoNotOptimize(pcm);
    });

    // The first frame of a loss run: voicing decision, gain and the
    // concealment excitation.
    RegisterStage("Conceal", firstLost, [](FrameInputs& in) {
        float pf[kFrameLength];
        int32_t lag = 0;
        float gain = 0.0f;
        int16_t seed = in.before.noiseSeed;
        ConcealLostFrame(in.scratch, pf, in.params.openLoopLag[1], 1, lag, gain, seed);
        benchmark::DoNotOptimize(pf);
    });
}

}  // namespace mervox::bench
