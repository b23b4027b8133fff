// Ratios between benchmarks of one run: each benchmark file registers the
// comparisons it cares about; the shared main prints them after the run,
// as the median over the repetitions with the lowest and highest.
#pragma once

struct BenchRatio {
    const char *label;
    const char *numerator;    // benchmark names as Google Benchmark reports them
    const char *denominator;  // null: the numerator's `counter` is the ratio itself
    double target;            // the median should stay at or below this; 0 = none
    const char *counter = nullptr;
};

// Registers a ratio at static-initialisation time; returns true.
bool bench_ratio(BenchRatio r);
