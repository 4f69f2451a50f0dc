// A console reporter that also prints the ratios of benchmarks measured in
// the same run, so that results are read against a peer, never as bare times.
// The ratios use CPU time: every benchmark here runs on one thread, and CPU
// time is less disturbed than wall time by other work on a shared machine.
#ifndef VORPIX_BENCH_RATIO_HPP
#define VORPIX_BENCH_RATIO_HPP

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Each pair names (ours, peer): the ratio printed is peer time / our time,
    // so above 1 means we are faster.
    explicit RatioReporter(std::vector<std::pair<std::string, std::string>> pairs) : pairs_(std::move(pairs)) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const auto &run : runs)
            if (run.run_type == Run::RT_Iteration) seconds_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto &[ours, peer] : pairs_) {
            auto a = seconds_.find(ours), b = seconds_.find(peer);
            if (a == seconds_.end() || b == seconds_.end() || a->second <= 0) continue;
            std::printf("ratio %s / %s = %.2f (peer time over ours; above 1 is faster)\n", peer.c_str(),
                        ours.c_str(), b->second / a->second);
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> seconds_;
};

inline int run_with_ratios(int argc, char **argv, std::vector<std::pair<std::string, std::string>> pairs) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(std::move(pairs));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace vorpix::bench

#endif
