// Runs every registered benchmark several times, then prints the registered
// ratios of their real times (or of their ratio counters) as the median of
// the repetitions with its spread, beside the processor they ran on.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/core/pixel.h"
#include "ratio.h"

static std::vector<BenchRatio> &ratios()
{
    static std::vector<BenchRatio> list;
    return list;
}

bool bench_ratio(BenchRatio r)
{
    ratios().push_back(r);
    return true;
}

namespace {

constexpr int DEFAULT_REPETITIONS = 5;

// Shows the aggregates (mean, median, spread) of repeated benchmarks and
// keeps every repetition's time and counters for the ratios.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> times;  // ns per iteration, one per repetition
    std::map<std::string, std::map<std::string, std::vector<double>>> counters;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        std::vector<Run> shown;
        for (const Run &r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration)
                continue;
            times[r.benchmark_name()].push_back(r.GetAdjustedRealTime());
            for (const auto &[name, c] : r.counters)
                counters[r.benchmark_name()][name].push_back(c.value);
        }
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Aggregate || r.repetitions <= 1 || r.error_occurred)
                shown.push_back(r);
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }
};

std::string cpu_model()
{
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

// The processor features the store paths and the blitters choose by.
std::string cpu_flags()
{
    std::ifstream in("/proc/cpuinfo");
    std::string flags;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("flags", 0) == 0) {
            std::istringstream all(line.substr(line.find(':') + 1));
            for (std::string f; all >> f;)
                for (const char *want : {"sse2", "ssse3", "avx2", "avx512f", "avx512bw", "erms", "fsrm"})
                    if (f == want)
                        flags += (flags.empty() ? "" : " ") + f;
            break;
        }
    return flags;
}

std::string load_average()
{
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One value per repetition; empty when a side is missing.
std::vector<double> ratio_values(const BenchRatio &r, CollectingReporter &rep)
{
    std::vector<double> out;
    if (!r.denominator) {
        auto b = rep.counters.find(r.numerator);
        if (b != rep.counters.end() && b->second.count(r.counter))
            out = b->second[r.counter];
        return out;
    }
    auto n = rep.times.find(r.numerator), d = rep.times.find(r.denominator);
    if (n == rep.times.end() || d == rep.times.end())
        return out;
    for (std::size_t i = 0; i < std::min(n->second.size(), d->second.size()); ++i)
        if (d->second[i] > 0)
            out.push_back(n->second[i] / d->second[i]);
    return out;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<char *> args(argv, argv + argc);
    bool repeated = false;
    for (int i = 1; i < argc; ++i)
        repeated |= std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    std::string reps = "--benchmark_repetitions=" + std::to_string(DEFAULT_REPETITIONS);
    if (!repeated)
        args.push_back(reps.data());
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data()))
        return 1;
    std::string load_before = load_average();
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nprocessor: %s\nfeatures: %s; store path: %s\nload average before / after: %s / %s\n",
                cpu_model().c_str(), cpu_flags().c_str(), rk_hStorePath().name, load_before.c_str(),
                load_average().c_str());
    std::printf("\n%-58s %8s %17s %8s  %s\n", "ratio (lower is faster)", "median", "lowest - highest", "target",
                "reps");
    for (const BenchRatio &r : ratios()) {
        std::vector<double> v = ratio_values(r, reporter);
        if (v.empty())
            continue;
        double m = median(v);
        auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        std::printf("%-58s %8.3f %8.3f - %6.3f ", r.label, m, *lo, *hi);
        if (r.target > 0)
            std::printf("%8.2f  %zu  %s\n", r.target, v.size(), m <= r.target ? "met" : "MISSED");
        else
            std::printf("%8s  %zu\n", "-", v.size());
    }
    return 0;
}
