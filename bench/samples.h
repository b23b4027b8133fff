// Timing samples of one contender, in microseconds, for benchmarks that run
// several contenders interleaved and compare their medians.
#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

struct Samples {
    std::vector<double> us;
    template <typename F>
    void time(F &&f)
    {
        auto t0 = std::chrono::steady_clock::now();
        f();
        benchmark::ClobberMemory();
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    double median()
    {
        std::nth_element(us.begin(), us.begin() + us.size() / 2, us.end());
        return us[us.size() / 2];
    }
};
