// The shipped true-peak detector compiled again for AVX2, in a namespace of
// its own, to show what a run-time dispatch to such a build would gain. Only
// the functions defined between the pragmas are built for AVX2; every
// library template they use keeps its portable instantiation, so no AVX2
// code can leak into the rest of the program.

#include <benchmark/benchmark.h>
#include <juce_audio_basics/juce_audio_basics.h>

#include "RunSettings.h"
#include "TruePeakBenchmark.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#if defined (__GNUC__) && defined (__x86_64__)
 #pragma GCC push_options
 #pragma GCC target ("avx2")

namespace avx2
{
 #include "processor/TruePeakDetector.cpp"
}

 #pragma GCC pop_options

static void BM_TruePeakAvx2 (benchmark::State& state)
{
    runTruePeakDetector<avx2::TruePeakDetector> (state, __builtin_cpu_supports ("avx2"));
}

BENCHMARK (BM_TruePeakAvx2)->Arg (48000)->Arg (96000)->Arg (192000)->UseRealTime()->Apply (measureFiveTimes);
#endif
