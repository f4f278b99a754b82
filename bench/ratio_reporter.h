// Console output plus a closing table of every benchmark's time relative to
// the Floor benchmark of the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace mervox::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    // Per benchmark: CPU time (ns) of every repetition, or the median when
    // the library computed one.
    std::map<std::string, std::vector<double>> samples_;
    std::map<std::string, double> medians_;
};

}  // namespace mervox::bench
