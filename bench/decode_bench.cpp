// Whole-frame decoding of corpus streams, as a host drives the decoder.
#include <benchmark/benchmark.h>

#include "benchmarks.h"
#include "interface/channel.h"

namespace mervox::bench {

void RegisterDecodeBenchmarks(const std::vector<CorpusStream>& streams)
{
    for (const CorpusStream& stream : streams) {
        benchmark::RegisterBenchmark(("Decode/" + stream.label).c_str(), [&stream](benchmark::State& state) {
            Channel channel;
            ResetChannel(channel, 1);
            int16_t pcm[kFrameLength];
            size_t k = 0;
            for (auto _ : state) {
                DecodeChannelFrame(channel, stream.Frame(k), pcm);
                benchmark::DoNotOptimize(pcm);
                if (++k == stream.frameOffset.size()) {
                    k = 0;
                    ResetChannel(channel, 1);  // a new stream, as INITdec starts one
                }
            }
            // Seconds of speech decoded per second of processor time.
            state.counters["realtime"] =
                benchmark::Counter(0.030 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
        });
    }
}

}  // namespace mervox::bench
