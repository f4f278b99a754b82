// Many streams at once: N decoders, each on a corpus stream (the six
// streams, with and without losses, each decoder starting at a different
// frame), one batch call per iteration. The reported time is per stream and
// frame; "channels" is how many streams one core decodes in real time.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "benchmarks.h"
#include "interface/decode_many.h"

namespace mervox::bench {
namespace {

void RunBatch(benchmark::State& state, const std::vector<CorpusStream>& streams, LaneVariant variant, int n)
{
    std::vector<mervox_decoder*> decoders(static_cast<size_t>(n));
    std::vector<const CorpusStream*> source(decoders.size());
    std::vector<size_t> position(decoders.size());
    for (size_t k = 0; k < decoders.size(); ++k) {
        decoders[k] = mervox_decoder_create(1, nullptr);
        source[k] = &streams[k % streams.size()];
        position[k] = (k * 37) % source[k]->frameOffset.size();
    }
    std::vector<const uint8_t*> frames(decoders.size());
    std::vector<size_t> sizes(decoders.size(), 24);
    std::vector<int16_t> pcm(decoders.size() * MERVOX_FRAME_SAMPLES);
    std::vector<int> results(decoders.size());
    for (auto _ : state) {
        for (size_t k = 0; k < decoders.size(); ++k) {
            frames[k] = source[k]->Frame(position[k]);
            if (++position[k] == source[k]->frameOffset.size())
                position[k] = 0;
        }
        DecodeManyWith(decoders.data(), frames.data(), sizes.data(), pcm.data(), results.data(), decoders.size(),
                       variant);
        benchmark::DoNotOptimize(pcm.data());
        benchmark::ClobberMemory();
    }
    state.counters["streams"] = n;
    state.counters["channels"] =
        benchmark::Counter(0.030 * n * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    for (mervox_decoder* d : decoders)
        mervox_decoder_destroy(d);
}

}  // namespace

void RegisterBatchBenchmarks(const std::vector<CorpusStream>& streams)
{
    for (LaneVariant variant : kAllLaneVariants) {
        if (!LaneVariantSupported(variant))
            continue;
        for (int n : {1, 4, 16, 64, 1024}) {
            const std::string name = std::string("Batch/") + LaneVariantName(variant) + "/" + std::to_string(n);
            benchmark::RegisterBenchmark(name.c_str(), [&streams, variant, n](benchmark::State& state) {
                RunBatch(state, streams, variant, n);
            });
        }
    }
}

}  // namespace mervox::bench
