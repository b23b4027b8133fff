// Ratios between benchmarks of one run: each benchmark file registers the
// comparisons it cares about; the shared main prints them after the run.
#pragma once

struct BenchRatio {
    const char *label;
    const char *numerator;    // benchmark names as Google Benchmark reports them
    const char *denominator;
    double target;            // the ratio should stay at or below this; 0 = none
};

// Registers a ratio at static-initialisation time; returns true.
bool bench_ratio(BenchRatio r);
