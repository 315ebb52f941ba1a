#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

/** Prints the benchmarks as the console reporter does, keeps each one's time
    per frame, and at the end sets the plug-in's figures against libebur128's
    for every configuration.

    A benchmark takes part by reporting a "per_frame" counter (seconds per
    frame, a kIsRate | kInvert counter); with repetitions the "min"
    aggregate counts, if there is one.
*/
class RatioSummary final : public benchmark::ConsoleReporter
{
public:
    RatioSummary() = default;

    void ReportRuns (const std::vector<Run>& runs) override;

    /** Writes the table of ratios to standard output, headed by the name of
        the kernels the plug-in ran. */
    void printSummary (const char* kernels) const;

private:
    /** Nanoseconds per frame of one benchmark, or a negative value if it did
        not run. */
    double nsPerFrame (const std::string& function, const std::string& args) const;

    std::map<std::string, double> secondsPerFrame;
};
