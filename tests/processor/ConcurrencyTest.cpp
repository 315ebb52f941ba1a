#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/InstrumentedBuild.h"
#include "support/PlayingHost.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

// What hosts and editors do from their own threads while the audio thread
// plays. The audio must pass untouched, the readings stay meaningful, and the
// measurement works afterwards. These matter most under ThreadSanitizer.

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    using namespace std::chrono;

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

    /** A host's audio thread, flat out: stereo 50 ms blocks of a -10 dBFS
        sine, each checked for pass-through and sane readings. */
    struct AudioThread
    {
        AudioThread (Kelt5_1liteAudioProcessor& p, std::function<void (int)> beforeEachBlock)
            : thread ([this, &p, beforeEachBlock] {
                  PlayingHost host (p);
                  juce::AudioBuffer<float> block (2, 2400);
                  ToneProgramme ({ { -10.0, 1000.0, 0.05 } }).fill (block); // whole periods

                  for (int b = 0; running; ++b, ++blocks)
                  {
                      beforeEachBlock (b);
                      faults += host.play (block) && sane (p.readings.load()) ? 0 : 1;
                  }
              })
        {
        }

        ~AudioThread()
        {
            running = false;
            thread.join();
        }

        bool waitForBlocks (int count)
        {
            const auto target = blocks.load() + count;

            for (const auto deadline = steady_clock::now() + seconds (10); blocks.load() < target; std::this_thread::sleep_for (milliseconds (1)))
                if (steady_clock::now() > deadline)
                    return false;

            return true;
        }

        std::atomic<int> blocks { 0 }, faults { 0 };
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
TEST (Concurrency, ResetsPreparationsParametersSettingsAndTheEditorWhileBlocksRun)
{
    auto p = stereoProcessor();
    juce::MemoryBlock saved;
    p->getStateInformation (saved);

    {
        // Real time and offline by turns, so that the others meet steps on
        // the loudness thread and on the audio thread.
        AudioThread audio (*p, [&p] (int block) { p->setNonRealtime ((block / 50) % 2 == 1); });

        std::thread host ([&p, &saved] {
            juce::Random random (3);

            for (int i = 0; i < 2000; ++i)
            {
                p->setParameter (i % 5 - 1, random.nextFloat() * 2.0f - 0.5f);
                (void) p->getParameterText (i % 3);
                p->setStateInformation (saved.getData(), (int) saved.getSize());
                p->getStateInformation (saved);

                if (i % 7 == 0)
                    p->resetMeasurement();
            }
        });

        const double rates[] = { 44100.0, 96000.0, 48000.0, 192000.0, 22050.0, 88200.0 };

        for (int i = 0; i < (isInstrumentedBuild ? 8 : 24); ++i)
        {
            p->prepareToPlay (rates[i % 6], 1 << (i % 13));

            if (i % 5 == 4)
                p->releaseResources();

            // The editor comes and goes meanwhile, its timer ticking and painting.
            std::unique_ptr<juce::AudioProcessorEditor> editor (i % 3 == 0 ? p->createEditor() : nullptr);

            for (int tick = 0; tick < 3; ++tick)
            {
                ASSERT_TRUE (audio.waitForBlocks (1));
                juce::Timer::callPendingTimersSynchronously();

                if (editor != nullptr)
                    (void) editor->createComponentSnapshot (editor->getLocalBounds());
            }
        }

        host.join();
        EXPECT_EQ (audio.faults.load(), 0);
    }

    // Afterwards a fresh offline measurement of a -20 dBFS tone reads -20 LUFS.
    p->setNonRealtime (true);
    p->prepareToPlay (48000.0, 4800);
    p->resetMeasurement();
    PlayingHost host (*p);
    ToneProgramme tone ({ { -20.0, 1000.0, 3.5 } });
    EXPECT_TRUE (host.play (tone, 2, 4800));
    const auto r = p->readings.load();

    for (auto value : { r.momentaryLoudness, r.shortTermLoudness, r.integratedLoudness, r.maxMomentaryLoudness })
        EXPECT_NEAR (value, -20.0f, 0.11f);

    EXPECT_EQ (r.measuredSamples, 3.5 * 48000.0);
}

TEST (Concurrency, InstancesGoAtOnceEvenWhileTheirLoudnessThreadIsMidStep)
{
    // Pinned: the step waits for its lock while the processor is destroyed.
    {
        auto p = stereoProcessor();
        std::unique_lock<std::mutex> pin (p->loudnessModule.stepLock);
        std::this_thread::sleep_for (milliseconds (120)); // past the next 50 ms step
        const auto start = steady_clock::now();
        std::thread destroyer ([&p] { p.reset(); });
        std::this_thread::sleep_for (milliseconds (50));
        pin.unlock();
        destroyer.join();
        EXPECT_LT (steady_clock::now() - start, milliseconds (900));
    }
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
