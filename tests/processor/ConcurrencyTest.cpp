#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/InstrumentedBuild.h"
#include "support/PlayingHost.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

// What hosts do from their own threads while the audio thread plays: reset,
// prepare again, change parameters, save and restore, destroy instances. The
// audio must pass untouched and the measurement work afterwards. These tests
// matter most in the ThreadSanitizer build.

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    using namespace std::chrono;
    using Clock = steady_clock;

    bool waitFor (const std::function<bool()>& condition, Clock::duration timeout = seconds (20))
    {
        for (const auto deadline = Clock::now() + timeout; ! condition(); std::this_thread::sleep_for (milliseconds (1)))
            if (Clock::now() > deadline)
                return false;

        return true;
    }

    /** A host's audio thread: stereo 50 ms blocks of a sine at a level the test
        may change, each checked for pass-through, at `speed` times real time
        (0: as fast as it goes), every other 50 blocks offline if asked. */
    struct AudioThread
    {
        AudioThread (Kelt5_1liteAudioProcessor& p, double speed, bool switchModes = false)
        {
            thread = std::thread ([this, &p, speed, switchModes] {
                PlayingHost host (p);
                juce::AudioBuffer<float> block (2, 2400);
                const auto start = Clock::now();

                for (int b = 0; running.load(); ++b)
                {
                    if (switchModes)
                        p.setNonRealtime ((b / 50) % 2 == 1);

                    ToneProgramme ({ { level.load(), 1000.0, 0.05 } }).fill (block); // whole periods
                    changedBlocks += host.play (block) ? 0 : 1;
                    ++blocks;

                    if (speed > 0.0)
                        std::this_thread::sleep_until (start + (b + 1) * microseconds ((int) (50000 / speed)));
                }
            });
        }

        ~AudioThread() { stop(); }

        void stop()
        {
            running = false;

            if (thread.joinable())
                thread.join();
        }

        /** Returns once `count` blocks have begun and ended after the call. */
        bool waitForBlocks (int count)
        {
            const auto target = blocks.load() + count + 1;
            return waitFor ([&] { return blocks.load() >= target; });
        }

        std::atomic<double> level { -10.0 };
        std::atomic<int> blocks { 0 }, changedBlocks { 0 };
        std::atomic<bool> running { true };
        std::thread thread;
    };

    std::unique_ptr<Kelt5_1liteAudioProcessor> stereoProcessor()
    {
        auto p = std::make_unique<Kelt5_1liteAudioProcessor>();
        p->setPlayConfigDetails (2, 2, 48000.0, 2400);
        p->prepareToPlay (48000.0, 2400);
        return p;
    }
}

//==============================================================================
TEST (Concurrency, ResetsPreparationsParametersAndSettingsWhileBlocksRun)
{
    auto p = stereoProcessor();

    {
        // Switching modes, the others meet steps on both the loudness and the audio thread.
        AudioThread audio (*p, 0.0, true);

        std::thread host ([&p] {
            juce::Random random (3);
            juce::MemoryBlock saved;

            for (int i = 0; i < 2000; ++i)
            {
                if (i % 7 == 0)
                    p->resetMeasurement();

                p->setParameter (i % 5 - 1, random.nextFloat() * 2.0f - 0.5f);
                (void) p->getParameterText (i % 3);
                p->getStateInformation (saved);
                p->setStateInformation (saved.getData(), (int) saved.getSize());
            }
        });

        const double rates[] = { 44100.0, 96000.0, 48000.0, 192000.0, 22050.0, 88200.0 };

        for (int i = 0; i < (isInstrumentedBuild ? 8 : 24); ++i)
        {
            p->prepareToPlay (rates[i % 6], 1 << (i % 13));

            if (i % 5 == 4)
                p->releaseResources();

            audio.waitForBlocks (3);
        }

        host.join();
        audio.stop();
        EXPECT_EQ (audio.changedBlocks.load(), 0);
    }

    // Afterwards a fresh measurement, offline so that no window is lost, reads true.
    p->setNonRealtime (true);
    p->prepareToPlay (48000.0, 4800);
    p->resetMeasurement();
    PlayingHost host (*p);
    ToneProgramme tone ({ { -20.0, 1000.0, 3.5 } });
    EXPECT_TRUE (host.play (tone, 2, 4800));
    EXPECT_NEAR (p->readings.integratedLoudness.load(), -20.0f, 0.11f);
}

TEST (Concurrency, NothingFromBeforeAResetComesBackWhileTheLoudnessThreadMeasures)
{
    auto p = stereoProcessor(); // the loudness thread measures throughout
    AudioThread audio (*p, 4.0);

    for (int round = 0; round < 2; ++round)
    {
        SCOPED_TRACE (round);

        // Loud audio, measured and published, in the last round long enough
        // for a loud 3 s window too.
        audio.level = -10.0;
        ASSERT_TRUE (waitFor ([&] { return p->readings.integratedLoudness.load() > -15.0f
                                        && (round < 1 || p->readings.shortTermLoudness.load() > -15.0f); }));

        // From here on only quiet audio comes in; the FIFOs still hold loud.
        audio.level = -40.0;
        ASSERT_TRUE (audio.waitForBlocks (1));
        p->resetMeasurement();

        // Watch what gets published until the quiet audio reads as such: no
        // loud value, and no value at all before 400 ms of new audio.
        bool sawOldValue = false, momentaryTooEarly = false;

        EXPECT_TRUE (waitFor ([&] {
            const auto v = p->readings.load();

            for (auto value : { v.momentaryLoudness, v.maxMomentaryLoudness, v.shortTermLoudness, v.maxShortTermLoudness, v.integratedLoudness })
                sawOldValue = sawOldValue || value > -30.0f;

            momentaryTooEarly = momentaryTooEarly || (v.momentaryLoudness != -70.0f && v.measuredSamples < 19200.0);
            return std::abs (v.momentaryLoudness + 40.0f) < 0.15f && std::abs (v.integratedLoudness + 40.0f) < 0.15f;
        }));

        EXPECT_FALSE (sawOldValue);
        EXPECT_FALSE (momentaryTooEarly);
    }

    audio.stop();
    EXPECT_EQ (audio.changedBlocks.load(), 0);
}

//==============================================================================
TEST (Concurrency, InstancesGoAtOnceEvenWhileTheirLoudnessThreadIsMidStep)
{
    // The step waits for its lock while the processor is destroyed. The
    // thread stops when asked; 1000 ms would mean it was ended by force.
    auto p = stereoProcessor();
    std::unique_lock<std::mutex> pin (p->loudnessModule.stepLock);
    std::this_thread::sleep_for (milliseconds (120)); // past the next 50 ms step
    const auto start = Clock::now();
    std::thread destroyer ([&p] { p.reset(); });
    std::this_thread::sleep_for (milliseconds (50));
    pin.unlock();
    destroyer.join();
    EXPECT_LT (Clock::now() - start, milliseconds (900));
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
