// A console reporter that also prints the ratios of benchmarks measured in
// the same run, so that results are read against a peer, never as bare times.
// The ratios use CPU time: every benchmark here runs on one thread, and CPU
// time is less disturbed than wall time by other work on a shared machine.
//
// Unless the command line says otherwise, each benchmark runs in several
// repetitions interleaved at random with the others', and a ratio is taken
// between medians, so that a burst of load from elsewhere falls on both
// sides alike and one slow repetition does not decide it.
#ifndef VORPIX_BENCH_RATIO_HPP
#define VORPIX_BENCH_RATIO_HPP

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace vorpix::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Each pair names (ours, peer): the ratio printed is peer time / our time,
    // so above 1 means we are faster.
    RatioReporter(std::vector<std::pair<std::string, std::string>> pairs, OutputOptions options)
        : ConsoleReporter(options), pairs_(std::move(pairs)) {}

    // Repetitions reach a reporter one by one, or only as their aggregates
    // when those alone are displayed; the median is kept either way.
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const auto &run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Iteration) seconds_[run.run_name.str()].push_back(run.GetAdjustedCPUTime());
            else if (run.aggregate_name == "median") medians_[run.run_name.str()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto &[ours, peer] : pairs_) {
            const double a = median(ours), b = median(peer);
            if (a <= 0 || b <= 0) continue;
            std::printf("ratio %s / %s = %.2f (peer time over ours, medians; above 1 is faster)\n", peer.c_str(),
                        ours.c_str(), b / a);
        }
    }

private:
    double median(const std::string &name) {
        if (auto m = medians_.find(name); m != medians_.end()) return m->second;
        auto it = seconds_.find(name);
        if (it == seconds_.end() || it->second.empty()) return 0;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, std::vector<double>> seconds_;
    std::map<std::string, double> medians_;
};

inline int run_with_ratios(int argc, char **argv, std::vector<std::pair<std::string, std::string>> pairs) {
    // Defaults go in front, so that the same flags given on the command line win.
    std::vector<char *> args(argv, argv + argc);
    auto given = [&](const char *flag) {
        for (int i = 1; i < argc; ++i)
            if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
        return false;
    };
    static char repetitions[] = "--benchmark_repetitions=9";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char brief[] = "--benchmark_display_aggregates_only=true";
    if (!given("--benchmark_repetitions")) args.insert(args.begin() + 1, repetitions);
    if (!given("--benchmark_enable_random_interleaving")) args.insert(args.begin() + 1, interleave);
    if (!given("--benchmark_display_aggregates_only")) args.insert(args.begin() + 1, brief);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter(std::move(pairs), isatty(fileno(stdout)) ? benchmark::ConsoleReporter::OO_Defaults
                                                                    : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace vorpix::bench

#endif
