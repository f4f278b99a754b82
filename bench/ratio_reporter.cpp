#include "ratio_reporter.h"

#include <algorithm>
#include <cstdio>

namespace mervox::bench {
namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred)
            continue;
        const std::string name = run.run_name.str();
        double ns = run.GetAdjustedCPUTime() * benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                    benchmark::GetTimeUnitMultiplier(run.time_unit);
        // Batch benchmarks decode a frame of several streams an iteration.
        const auto streams = run.counters.find("streams");
        if (streams != run.counters.end() && streams->second.value > 0)
            ns /= streams->second.value;
        if (run.run_type == Run::RT_Iteration)
            samples_[name].push_back(ns);
        else if (run.aggregate_name == "median")
            medians_[name] = ns;
    }
}

void RatioReporter::Finalize()
{
    ConsoleReporter::Finalize();
    auto median = [this](const std::string& name) {
        const auto m = medians_.find(name);
        return m != medians_.end() ? m->second : Median(samples_[name]);
    };
    if (!samples_.count("Floor") && !medians_.count("Floor"))
        return;
    const double floor = median("Floor");
    const bool withChains = samples_.count("Chains") || medians_.count("Chains");
    const double chains = withChains ? median("Chains") : 0.0;
    std::printf("\nMedian CPU time per frame (per stream and frame for Batch), relative to Floor (%.0f ns)", floor);
    if (withChains)
        std::printf(" and Chains (%.0f ns)", chains);
    std::printf(" of this run;\nchannels: streams one core decodes in real time (30 ms of speech a frame)\n");
    std::vector<std::string> names;
    for (const auto& entry : samples_)
        names.push_back(entry.first);
    for (const auto& entry : medians_)
        if (!samples_.count(entry.first))
            names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const double ns = median(name);
        std::printf("  %-28s %10.0f ns  %6.3f x Floor", name.c_str(), ns, ns / floor);
        if (withChains)
            std::printf("  %6.3f x Chains", ns / chains);
        if (name.rfind("Decode/", 0) == 0 || name.rfind("Batch/", 0) == 0)
            std::printf("  %8.0f channels", 30e6 / ns);
        std::printf("\n");
    }
    std::fflush(stdout);
}

}  // namespace mervox::bench
