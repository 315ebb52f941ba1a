#pragma once

#include <benchmark/benchmark.h>

#include "NoisePool.h"

#include <array>

/** Runs a build of the true-peak detector over six channels of noise, one
    block per iteration; skipped where the processor cannot run that build. */
template <typename Detector>
void runTruePeakDetector (benchmark::State& state, bool supported)
{
    if (! supported)
    {
        state.SkipWithError ("this processor lacks the instruction set");
        return;
    }

    NoisePool pool (Detector::numChannels);
    Detector detector;
    std::array<float, Detector::numChannels> levels {};
    detector.prepare (static_cast<double> (state.range (0)), NoisePool::blockSize);
    int blockIndex = 0;

    for (auto _ : state)
    {
        detector.process (pool.block (blockIndex++), levels);
        benchmark::DoNotOptimize (levels);
    }

    state.counters["per_frame"] = benchmark::Counter (static_cast<double> (state.iterations()) * NoisePool::blockSize,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
