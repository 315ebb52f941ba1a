#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

/** Every benchmark here runs five times and reports, besides the usual
    aggregates, its fastest run: on a shared machine that is the run the
    other load disturbed least, and the one the summary uses. */
inline void measureFiveTimes (benchmark::internal::Benchmark* b)
{
    b->Repetitions (5)
        ->ReportAggregatesOnly (true)
        ->MinTime (0.3)
        ->ComputeStatistics ("min", [] (const std::vector<double>& v) { return *std::min_element (v.begin(), v.end()); });
}
