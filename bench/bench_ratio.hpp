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

// A ratio of a counter that the benchmarks set, such as a child process's CPU
// seconds or peak memory, taken as times are: peer over ours, between medians.
struct CounterRatio {
    std::string ours, peer, counter;
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Each pair names (ours, peer): the ratio printed is peer time / our time,
    // so above 1 means we are faster.
    RatioReporter(std::vector<std::pair<std::string, std::string>> pairs, OutputOptions options,
                  std::vector<CounterRatio> counter_ratios = {})
        : ConsoleReporter(options), pairs_(std::move(pairs)), counter_ratios_(std::move(counter_ratios)) {}

    // Repetitions reach a reporter one by one, or only as their aggregates
    // when those alone are displayed; the median (and the least and greatest,
    // where the benchmark computes them) is kept either way.
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const auto &run : runs) {
            if (run.error_occurred) continue;
            // As registered, without what the name gains from settings such
            // as a fixed number of iterations or manual time.
            const std::string name = run.run_name.function_name +
                                     (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
            if (run.run_type == Run::RT_Iteration) {
                seconds_[name].push_back(run.GetAdjustedCPUTime());
                for (const auto &[counter, value] : run.counters) counter_values_[name][counter].push_back(value);
            } else if (run.aggregate_name == "median" || run.aggregate_name == "min" || run.aggregate_name == "max") {
                aggregates_[name][run.aggregate_name] = run.GetAdjustedCPUTime();
                for (const auto &[counter, value] : run.counters)
                    counter_aggregates_[name][counter][run.aggregate_name] = value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto &[ours, peer] : pairs_) {
            const double a = median(ours), b = median(peer);
            if (a <= 0 || b <= 0) continue;
            std::printf("ratio %s / %s = %.2f (peer time over ours, medians; above 1 is faster)%s\n", peer.c_str(),
                        ours.c_str(), b / a, spread(ours, peer, "").c_str());
        }
        for (const auto &r : counter_ratios_) {
            const double a = statistic(r.ours, r.counter, "median"), b = statistic(r.peer, r.counter, "median");
            if (a <= 0 || b <= 0) continue;
            std::printf("ratio %s: %s / %s = %.2f (peer over ours, medians; above 1 is ours lower)%s\n",
                        r.counter.c_str(), r.peer.c_str(), r.ours.c_str(), b / a,
                        spread(r.ours, r.peer, r.counter).c_str());
        }
    }

private:
    // CPU time when counter is empty, else the counter; 0 when not known.
    double statistic(const std::string &name, const std::string &counter, const std::string &which) {
        if (counter.empty()) {
            if (auto a = aggregates_.find(name); a != aggregates_.end())
                if (auto s = a->second.find(which); s != a->second.end()) return s->second;
        } else if (auto a = counter_aggregates_.find(name); a != counter_aggregates_.end()) {
            if (auto c = a->second.find(counter); c != a->second.end())
                if (auto s = c->second.find(which); s != c->second.end()) return s->second;
        }
        std::vector<double> v;
        if (counter.empty()) {
            if (auto it = seconds_.find(name); it != seconds_.end()) v = it->second;
        } else if (auto it = counter_values_.find(name); it != counter_values_.end()) {
            if (auto c = it->second.find(counter); c != it->second.end()) v = c->second;
        }
        if (v.empty()) return 0;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        if (which == "min") return v.front();
        if (which == "max") return v.back();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

    double median(const std::string &name) { return statistic(name, "", "median"); }

    // The ratio's spread from the extremes of both sides (the peer's least
    // over our greatest, to its greatest over our least) and each side's
    // median with its extremes; "" without them.
    std::string spread(const std::string &ours, const std::string &peer, const std::string &counter) {
        const double ours_min = statistic(ours, counter, "min"), ours_max = statistic(ours, counter, "max");
        const double peer_min = statistic(peer, counter, "min"), peer_max = statistic(peer, counter, "max");
        if (ours_min <= 0 || ours_max <= 0 || peer_min <= 0 || peer_max <= 0) return "";
        char text[256];
        std::snprintf(text, sizeof text, "\n    spread %.2f to %.2f; ours %.4g [%.4g, %.4g], peer %.4g [%.4g, %.4g]",
                      peer_min / ours_max, peer_max / ours_min, statistic(ours, counter, "median"), ours_min, ours_max,
                      statistic(peer, counter, "median"), peer_min, peer_max);
        return text;
    }

    std::vector<std::pair<std::string, std::string>> pairs_;
    std::vector<CounterRatio> counter_ratios_;
    std::map<std::string, std::vector<double>> seconds_;
    std::map<std::string, std::map<std::string, std::vector<double>>> counter_values_;
    std::map<std::string, std::map<std::string, double>> aggregates_;
    std::map<std::string, std::map<std::string, std::map<std::string, double>>> counter_aggregates_;
};

inline int run_with_ratios(int argc, char **argv, std::vector<std::pair<std::string, std::string>> pairs,
                           std::vector<CounterRatio> counter_ratios = {}) {
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
    RatioReporter reporter(
        std::move(pairs),
        isatty(fileno(stdout)) ? benchmark::ConsoleReporter::OO_Defaults : benchmark::ConsoleReporter::OO_Tabular,
        std::move(counter_ratios));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace vorpix::bench

#endif
