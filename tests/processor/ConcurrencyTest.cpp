#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/InstrumentedBuild.h"
#include "support/PlayingHost.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <thread>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    /** Loudness values are NaN (a window that held a bad sample) or on the
        meter's span; what is integrated over time never is NaN. */
    bool sane (const MeterReadings::Values& r)
    {
        const auto onSpan = [] (float v) { return v >= -70.0f && v <= 0.0f; };

        return (std::isnan (r.momentaryLoudness) || onSpan (r.momentaryLoudness))
            && (std::isnan (r.shortTermLoudness) || onSpan (r.shortTermLoudness))
            && onSpan (r.integratedLoudness) && onSpan (r.maxMomentaryLoudness) && onSpan (r.maxShortTermLoudness)
            && (r.loudnessRange == -70.0f || (r.loudnessRange >= 0.0f && r.loudnessRange <= 70.0f))
            && r.measuredSamples >= 0.0 && (r.truePeakOverload == 0 || r.truePeakOverload == 1);
    }
}

// What hosts do from their own threads while the audio thread plays (the
// editor's part is in the editor's tests): the audio passes untouched, the
// readings stay meaningful, and the measurement works afterwards. This
// matters most under ThreadSanitizer.
TEST (Concurrency, ResetsPreparationsParametersAndSettingsWhileBlocksRun)
{
    // The blocks that are not offline count as real time, so that the
    // loudness thread measures them while the others reset and prepare.
    Kelt5_1liteAudioProcessor p;
    p.renderPace.clock = PlayingHost::realTimeClock;
    p.setPlayConfigDetails (2, 2, 48000.0, 2400);
    p.prepareToPlay (48000.0, 2400);
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    std::atomic<int> blocks { 0 }, faults { 0 };
    std::atomic<bool> running { true };

    // Flat out, real time and offline by turns, so that the others meet
    // steps on the loudness thread and on the audio thread.
    std::thread audio ([&] {
        PlayingHost host (p);
        juce::AudioBuffer<float> block (2, 2400);
        ToneProgramme ({ { -10.0, 1000.0, 0.05 } }).fill (block); // whole periods

        for (; running; ++blocks)
        {
            p.setNonRealtime ((blocks / 50) % 2 == 1);
            faults += host.play (block) && sane (p.readings.load()) ? 0 : 1;
        }
    });

    std::thread host ([&] {
        juce::Random random (3);

        for (int i = 0; i < 2000; ++i)
        {
            p.setParameter (i % 5 - 1, random.nextFloat() * 2.0f - 0.5f);
            (void) p.getParameterText (i % 3);
            p.setStateInformation (saved.getData(), (int) saved.getSize());
            p.getStateInformation (saved);

            if (i % 7 == 0)
                p.resetMeasurement();
        }
    });

    const double rates[] = { 44100.0, 96000.0, 48000.0, 192000.0, 22050.0, 88200.0 };

    for (int i = 0; i < (isInstrumentedBuild ? 8 : 24); ++i)
    {
        p.prepareToPlay (rates[i % 6], 1 << (i % 13));

        if (i % 5 == 4)
            p.releaseResources();

        for (const auto until = blocks + 3; blocks < until;)
            std::this_thread::yield();
    }

    host.join();
    running = false;
    audio.join();
    EXPECT_EQ (faults.load(), 0);

    // Afterwards a fresh offline measurement of a -20 dBFS tone reads -20 LUFS.
    p.setNonRealtime (true);
    p.prepareToPlay (48000.0, 4800);
    p.resetMeasurement();
    PlayingHost player (p);
    ToneProgramme tone ({ { -20.0, 1000.0, 3.5 } });
    EXPECT_TRUE (player.play (tone, 2, 4800));
    const auto r = p.readings.load();

    for (auto value : { r.momentaryLoudness, r.shortTermLoudness, r.integratedLoudness, r.maxMomentaryLoudness })
        EXPECT_NEAR (value, -20.0f, 0.11f);

    EXPECT_EQ (r.measuredSamples, 3.5 * 48000.0);
}

TEST (Concurrency, BlocksPassUnmeasuredWhileAResetWaitsForTheStepLock)
{
    // At real-time pace: a render's blocks would wait for the step lock.
    Kelt5_1liteAudioProcessor p;
    p.prepareToPlay (48000.0, 2400);
    p.renderPace.clock = PlayingHost::realTimeClock;
    PlayingHost host (p);
    juce::AudioBuffer<float> block (2, 2400);
    ToneProgramme ({ { -20.0, 1000.0, 0.05 } }).fill (block);

    // Another thread holds the step lock, so the reset stays in its pause.
    std::promise<void> pinned, unpin;
    auto pinner = std::async (std::launch::async, [&] {
        const std::lock_guard<std::mutex> pin (p.loudnessModule.stepLock);
        pinned.set_value();
        unpin.get_future().wait();
    });
    pinned.get_future().wait();
    std::thread reset ([&p] { p.resetMeasurement(); });

    // Measured until the reset has closed the gate, held out from then on.
    bool heldOut = false;

    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (10); ! heldOut && std::chrono::steady_clock::now() < deadline;)
    {
        const auto counted = p.readings.measuredSamples.load();
        EXPECT_TRUE (host.play (block));
        heldOut = p.readings.measuredSamples.load() == counted;
    }

    unpin.set_value();
    pinner.wait();
    reset.join();
    EXPECT_TRUE (heldOut) << "every block was measured while a reset waited for the step lock";
}

TEST (Concurrency, AProcessorGoesAtOnceWhileItsLoudnessThreadWaitsForTheStepLock)
{
    using namespace std::chrono;
    auto* p = new Kelt5_1liteAudioProcessor();
    p->prepareToPlay (48000.0, 2400); // a step every 50 ms
    std::unique_lock<std::mutex> pin (p->loudnessModule.stepLock);
    std::this_thread::sleep_for (milliseconds (120)); // the next step now waits for the lock

    // The destructor's stop of the thread, on a thread of its own, so that a
    // hang fails here with a message. The lock is let go 50 ms in; the
    // processor itself goes only once the lock is free, as a mutex must.
    const auto done = std::make_shared<std::promise<double>>(); // milliseconds
    auto took = done->get_future();
    std::thread stopper ([p, done] {
        const auto start = steady_clock::now();
        p->loudnessThread.stopThread (1000);
        done->set_value (duration<double, std::milli> (steady_clock::now() - start).count());
    });

    std::this_thread::sleep_for (milliseconds (50));
    pin.unlock();

    if (took.wait_for (seconds (2)) != std::future_status::ready)
    {
        stopper.detach(); // a failed run leaks the processor to it
        FAIL() << "the loudness thread was still running 2 s after its step could go on";
    }

    stopper.join();
    EXPECT_LT (took.get(), 1000.0) << "ms: the stop waited for its time-out";
    delete p;
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
