// mervox_bench: decoding speed of the corpus streams, of each stage, and of
// the floor (the two recursive filters alone); ends with a table of every
// median relative to the floor measured in the same run.
//
// Defaults (each can be overridden on the command line): 9 repetitions in
// random interleaved order, so that load from other processes spreads over
// all benchmarks alike, and aggregates only on the console.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "benchmarks.h"
#include "ratio_reporter.h"

int main(int argc, char** argv)
{
    using namespace mervox::bench;
    std::vector<char*> args(argv, argv + argc);
    std::vector<std::string> defaults = {"--benchmark_repetitions=9", "--benchmark_enable_random_interleaving=true",
                                         "--benchmark_display_aggregates_only=true", "--benchmark_min_time=0.05"};
    for (std::string& d : defaults) {
        const std::string key = d.substr(0, d.find('='));
        bool given = false;
        for (int i = 1; i < argc; ++i)
            given = given || std::string(argv[i]).rfind(key, 0) == 0;
        if (!given)
            args.insert(args.begin() + 1, d.data());
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    static const std::vector<CorpusStream> streams = {
        LoadCorpusStream("6.3", "speech-a.63", false),      LoadCorpusStream("5.3", "speech-a.53", false),
        LoadCorpusStream("mixed", "speech-a.mixed", false), LoadCorpusStream("6.3+loss", "speech-a.63", true),
        LoadCorpusStream("5.3+loss", "speech-a.53", true),  LoadCorpusStream("mixed+loss", "speech-a.mixed", true),
    };
    // Enough frames that branches on the data are as unpredictable as in a
    // real stream (a few dozen frames, repeated, are learnt by the branch
    // predictor and flatter the data-dependent stages).
    constexpr int kFrames = 256;
    static std::vector<FrameInputs> frames63 = CaptureGoodFrames(streams[0], kFrames);
    static std::vector<FrameInputs> frames53 = CaptureGoodFrames(streams[1], kFrames);
    static std::vector<FrameInputs> firstLost = CaptureFirstLostFrames(streams[3], kFrames);

    RegisterFloorBenchmark(frames63);
    RegisterDecodeBenchmarks(streams);
    RegisterBatchBenchmarks(streams);
    RegisterStageBenchmarks(frames63, frames53, firstLost);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
