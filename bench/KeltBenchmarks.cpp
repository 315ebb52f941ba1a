#include <benchmark/benchmark.h>
#include <ebur128.h>

#include <juce_events/juce_events.h>

#include "NoisePool.h"
#include "RatioSummary.h"
#include "RunSettings.h"
#include "TruePeakBenchmark.h"
#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/SimdDispatch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>
#include <string_view>

namespace
{
    using Clock = std::chrono::steady_clock;

    constexpr int blockSize = NoisePool::blockSize;

    /** A host that plays and moves on by each block. */
    class AdvancingPlayHead final : public juce::AudioPlayHead
    {
    public:
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setIsPlaying (true);
            info.setTimeInSamples (timeInSamples);
            info.setBpm (120.0);
            return info;
        }

        juce::int64 timeInSamples = 0;
    };

    /** A clock for the plug-in's render pace under which no block comes
        ahead of real time, however fast blocks are pushed here: a second
        passes at every reading. */
    double realTimeClock() noexcept
    {
        static std::atomic<juce::int64> readings { 0 };
        return static_cast<double> (readings.fetch_add (1));
    }

    /** The plug-in as a host runs it, with the loudness thread's steps taken
        here at the pace real time would take them: one per 50 ms of audio. */
    class PluginSession final
    {
    public:
        PluginSession (double sampleRate, int numChannels)
            : pool (numChannels),
              stepInterval (static_cast<int> (sampleRate * 0.05))
        {
            processor.renderPace.clock = realTimeClock;
            processor.setPlayConfigDetails (numChannels, numChannels, sampleRate, blockSize);
            processor.prepareToPlay (sampleRate, blockSize);
            // The engine keeps its data; its steps no longer run concurrently.
            processor.releaseResources();
            processor.setPlayHead (&playHead);

            // Past the first short-term window, so that every kind of step runs.
            const auto preRollBlocks = static_cast<int> (sampleRate * 4.0) / blockSize;

            for (int i = 0; i < preRollBlocks; ++i)
            {
                processBlock();

                if (stepIsDue())
                    step();
            }
        }

        void processBlock()
        {
            auto block = pool.block (blockIndex++);
            processor.processBlock (block, midi);
            playHead.timeInSamples += blockSize;
            framesSinceStep += blockSize;
        }

        bool stepIsDue() const noexcept { return framesSinceStep >= stepInterval; }

        void step()
        {
            processor.loudnessModule.updateLoudness();
            framesSinceStep -= stepInterval;
        }

    private:
        AdvancingPlayHead playHead;
        Kelt5_1liteAudioProcessor processor;
        NoisePool pool;
        juce::MidiBuffer midi;
        const int stepInterval;
        int blockIndex = 0;
        int framesSinceStep = 0;
    };

    double threadCpuSeconds()
    {
        timespec now {};
        clock_gettime (CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double> (now.tv_sec) + static_cast<double> (now.tv_nsec) * 1.0e-9;
    }

    double secondsSince (Clock::time_point start)
    {
        return std::chrono::duration<double> (Clock::now() - start).count();
    }

    void setFramesPerIteration (benchmark::State& state, int frames)
    {
        state.counters["per_frame"] = benchmark::Counter (static_cast<double> (state.iterations()) * frames,
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }

    double rateArgument (const benchmark::State& state)
    {
        return static_cast<double> (state.range (0));
    }

    int channelsArgument (const benchmark::State& state)
    {
        return static_cast<int> (state.range (1));
    }
}

//==============================================================================
/** processBlock alone; the measurement steps in between are not timed. */
static void BM_AudioThread (benchmark::State& state)
{
    PluginSession session (rateArgument (state), channelsArgument (state));

    for (auto _ : state)
    {
        const auto start = Clock::now();
        session.processBlock();
        state.SetIterationTime (secondsSince (start));

        if (session.stepIsDue())
            session.step();
    }

    setFramesPerIteration (state, blockSize);
}

/** The measurement steps alone, spread over the blocks they measure. */
static void BM_LoudnessThread (benchmark::State& state)
{
    PluginSession session (rateArgument (state), channelsArgument (state));

    for (auto _ : state)
    {
        session.processBlock();
        auto elapsed = 0.0;

        if (session.stepIsDue())
        {
            const auto start = Clock::now();
            session.step();
            elapsed = secondsSince (start);
        }

        state.SetIterationTime (elapsed);
    }

    setFramesPerIteration (state, blockSize);
}

/** The longest processBlock, as a ratio to the block's duration, of blocks
    of 256 frames played in real time while the loudness thread is held off
    for a second, as a loaded machine may deschedule it. The time reported,
    and work_per_block, count the callback's own CPU time; wall_per_block
    also counts the time other threads took the core from it. */
static void BM_StalledLoudnessThread (benchmark::State& state)
{
    const auto sampleRate = rateArgument (state);
    constexpr int frames = 256;
    const auto blockDuration = std::chrono::duration<double> (frames / sampleRate);

    NoisePool pool (6);
    AdvancingPlayHead playHead;
    Kelt5_1liteAudioProcessor processor;
    // Real time, even where the machine falls behind the schedule and blocks
    // then come back to back.
    processor.renderPace.clock = realTimeClock;
    processor.setPlayConfigDetails (6, 6, sampleRate, frames);
    processor.prepareToPlay (sampleRate, frames); // the loudness thread runs
    processor.setPlayHead (&playHead);
    juce::MidiBuffer midi;

    for (auto _ : state)
    {
        auto longest = 0.0, longestWork = 0.0;
        std::thread stall;
        const auto start = Clock::now();
        const auto numBlocks = static_cast<int> (4.0 / blockDuration.count());

        for (int i = 0; i < numBlocks; ++i)
        {
            std::this_thread::sleep_until (start + std::chrono::duration_cast<Clock::duration> (i * blockDuration));

            // From 0.5 s to 1.5 s, no measurement step can start.
            if (i == numBlocks / 8)
                stall = std::thread ([&processor] {
                    const std::lock_guard<std::mutex> hold (processor.loudnessModule.stepLock);
                    std::this_thread::sleep_for (std::chrono::seconds (1));
                });

            auto block = pool.block (i);
            juce::AudioBuffer<float> part (block.getArrayOfWritePointers(), 6, frames);
            const auto callbackStart = Clock::now();
            const auto workStart = threadCpuSeconds();
            processor.processBlock (part, midi);
            longestWork = std::max (longestWork, threadCpuSeconds() - workStart);
            longest = std::max (longest, secondsSince (callbackStart));
            playHead.timeInSamples += frames;
        }

        stall.join();
        state.SetIterationTime (longestWork);
        state.counters["work_per_block"] = longestWork / blockDuration.count();
        state.counters["wall_per_block"] = longest / blockDuration.count();
    }

    processor.releaseResources();
}

//==============================================================================
namespace
{
    void runEbur128 (benchmark::State& state, int mode)
    {
        const auto numChannels = channelsArgument (state);
        const NoisePool pool (numChannels);

        auto* meter = ebur128_init (static_cast<unsigned int> (numChannels),
                                    static_cast<unsigned long> (state.range (0)), mode);

        if (meter == nullptr)
        {
            state.SkipWithError ("ebur128_init failed");
            return;
        }

        int blockIndex = 0;

        for (auto _ : state)
            ebur128_add_frames_float (meter, pool.interleavedBlock (blockIndex++), blockSize);

        ebur128_destroy (&meter);
        setFramesPerIteration (state, blockSize);
    }
}

/** The reference library doing momentary, short-term, integrated, range and
    true peak on the same samples. */
static void BM_Ebur128Full (benchmark::State& state)
{
    runEbur128 (state, EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA
                           | EBUR128_MODE_TRUE_PEAK);
}

static void BM_Ebur128NoTruePeak (benchmark::State& state)
{
    runEbur128 (state, EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA);
}

//==============================================================================
/** The true-peak detector as the plug-in ships it, six channels. */
static void BM_TruePeak (benchmark::State& state)
{
    runTruePeakDetector<TruePeakDetector> (state, true);
}

/** The K-weighting of one block, all channels, as the block path runs it. */
static void BM_KWeighting (benchmark::State& state)
{
    NoisePool pool (channelsArgument (state));
    TarnLoudnessModule engine;
    engine.prepare (rateArgument (state), blockSize);
    int blockIndex = 0;

    for (auto _ : state)
    {
        engine.weight (pool.block (blockIndex++));
        benchmark::DoNotOptimize (engine.blockBuffer.getReadPointer (0));
    }

    setFramesPerIteration (state, blockSize);
}

//==============================================================================
namespace
{
    void addConfigurations (benchmark::internal::Benchmark* b)
    {
        for (const auto& args : { std::vector<int64_t> { 48000, 6 }, { 96000, 6 }, { 192000, 6 }, { 44100, 2 } })
            b->Args (args);
    }
}

BENCHMARK (BM_AudioThread)->Apply (addConfigurations)->UseManualTime()->Apply (measureFiveTimes);
BENCHMARK (BM_LoudnessThread)->Apply (addConfigurations)->UseManualTime()->Apply (measureFiveTimes);
BENCHMARK (BM_Ebur128Full)->Apply (addConfigurations)->UseRealTime()->Apply (measureFiveTimes);
BENCHMARK (BM_Ebur128NoTruePeak)->Apply (addConfigurations)->UseRealTime()->Apply (measureFiveTimes);
BENCHMARK (BM_KWeighting)->Args ({ 48000, 6 })->Args ({ 44100, 2 })->UseRealTime()->Apply (measureFiveTimes);
BENCHMARK (BM_TruePeak)->Arg (48000)->Arg (96000)->Arg (192000)->UseRealTime()->Apply (measureFiveTimes);
BENCHMARK (BM_StalledLoudnessThread)->Arg (192000)->Arg (48000)->Iterations (1)->UseManualTime();

int main (int argc, char** argv)
{
    // The processor's thread and timers expect the framework to be up.
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;

    benchmark::Initialize (&argc, argv);

    // --portable: what a processor without AVX2 gets from the same binary.
    for (int i = 1; i < argc; ++i)
    {
        if (std::string_view (argv[i]) == "--portable")
        {
            SimdDispatch::setAvx2Allowed (false);
            std::copy (argv + i + 1, argv + argc, argv + i);
            argv[--argc] = nullptr;
            break;
        }
    }

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    RatioSummary reporter;
    benchmark::RunSpecifiedBenchmarks (&reporter);
    reporter.printSummary (SimdDispatch::useAvx2() ? "AVX2" : "portable");
    benchmark::Shutdown();
    return 0;
}
