// Runs every registered benchmark, then prints the registered ratios of
// their real times.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

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
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;  // ns per iteration
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};
}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-58s %10s %8s  %s\n", "ratio (lower is faster)", "value", "target", "");
    for (const BenchRatio &r : ratios()) {
        auto n = reporter.times.find(r.numerator), d = reporter.times.find(r.denominator);
        if (n == reporter.times.end() || d == reporter.times.end() || d->second <= 0)
            continue;
        double v = n->second / d->second;
        if (r.target > 0)
            std::printf("%-58s %10.3f %8.2f  %s\n", r.label, v, r.target, v <= r.target ? "met" : "MISSED");
        else
            std::printf("%-58s %10.3f %8s\n", r.label, v, "-");
    }
    return 0;
}
