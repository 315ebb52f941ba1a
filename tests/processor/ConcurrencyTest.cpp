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
#include <vector>

// What hosts and editors do from their own threads while the audio thread
// plays: reset, prepare again, change parameters, save and restore, open the
// editor, create and destroy instances. The audio must pass untouched, the
// readings must stay meaningful, and the measurement must work afterwards.
// These tests matter most in the ThreadSanitizer build.

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    using namespace std::chrono;
    using Clock = steady_clock;

    bool waitFor (const std::function<bool()>& condition, Clock::duration timeout = seconds (5))
    {
        for (const auto deadline = Clock::now() + timeout; ! condition();)
        {
            if (Clock::now() > deadline)
                return false;

            std::this_thread::sleep_for (milliseconds (1));
        }

        return true;
    }

    /** Loudness values are NaN (a window that held a bad sample) or on the
        meter's span; what is integrated over time is never NaN. */
    bool saneReadings (const MeterReadings::Values& r)
    {
        const auto onSpan = [] (float v) { return v >= -70.0f && v <= 0.0f; };

        return (std::isnan (r.momentaryLoudness) || onSpan (r.momentaryLoudness))
            && (std::isnan (r.shortTermLoudness) || onSpan (r.shortTermLoudness))
            && onSpan (r.integratedLoudness) && onSpan (r.maxMomentaryLoudness) && onSpan (r.maxShortTermLoudness)
            && (r.loudnessRange == -70.0f || (r.loudnessRange >= 0.0f && r.loudnessRange <= 70.0f))
            && r.measuredSamples >= 0.0 && (r.truePeakOverload == 0 || r.truePeakOverload == 1);
    }

    /** A host's audio thread: stereo blocks of a sine at a level the test may
        change, each checked for pass-through and sane readings, paced at
        `speed` times real time (0: as fast as it goes). */
    class AudioThread
    {
    public:
        AudioThread (Kelt5_1liteAudioProcessor& processor, double levelDb, double speed = 0.0,
                     std::function<void (int)> beforeEachBlock = {})
            : p (processor), level (levelDb)
        {
            thread = std::thread ([this, speed, beforeEachBlock] {
                PlayingHost host (p);
                juce::AudioBuffer<float> block (2, blockSize);
                const auto start = Clock::now();

                for (int b = 0; running.load(); ++b)
                {
                    if (beforeEachBlock)
                        beforeEachBlock (b);

                    const auto request = levelRequests.load();
                    ToneProgramme ({ { level.load(), 1000.0, 0.05 } }).fill (block); // whole periods

                    if (! host.play (block))
                        ++changedBlocks;

                    if (! saneReadings (p.readings.load()))
                        ++insaneReadings;

                    levelPlayed = request;
                    ++blocks;

                    if (speed > 0.0)
                        std::this_thread::sleep_until (start + (b + 1) * microseconds ((int) (50000 / speed)));
                    else
                        std::this_thread::yield();
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

        /** Returns once a whole block at the new level has been played. */
        bool changeLevel (double levelDb)
        {
            level = levelDb;
            const auto request = ++levelRequests;
            return waitFor ([&] { return levelPlayed.load() == request; });
        }

        void waitForBlocks (int count)
        {
            const auto target = blocks.load() + count;
            waitFor ([&] { return blocks.load() >= target; }, seconds (60));
        }

        static constexpr int blockSize = 2400;
        std::atomic<int> blocks { 0 }, changedBlocks { 0 }, insaneReadings { 0 };

    private:
        Kelt5_1liteAudioProcessor& p;
        std::atomic<double> level;
        std::atomic<int> levelRequests { 0 }, levelPlayed { 0 };
        std::atomic<bool> running { true };
        std::thread thread;
    };

    /** After whatever went before: a fresh measurement of a -20 dBFS stereo
        tone, measured offline so that no window is lost, reads -20 LUFS. */
    void expectToMeasureTheReferenceTone (Kelt5_1liteAudioProcessor& p)
    {
        p.setNonRealtime (true);
        p.prepareToPlay (48000.0, 4800);
        p.resetMeasurement();
        PlayingHost host (p);
        ToneProgramme tone ({ { -20.0, 1000.0, 3.5 } });
        EXPECT_TRUE (host.play (tone, 2, 4800));

        const auto r = p.readings.load();

        for (auto value : { r.momentaryLoudness, r.shortTermLoudness, r.integratedLoudness, r.maxMomentaryLoudness })
            EXPECT_NEAR (value, -20.0f, 0.11f);

        EXPECT_EQ (r.measuredSamples, 3.5 * 48000.0);
    }

    std::unique_ptr<Kelt5_1liteAudioProcessor> stereoProcessor (int blockSize = AudioThread::blockSize)
    {
        auto p = std::make_unique<Kelt5_1liteAudioProcessor>();
        p->setPlayConfigDetails (2, 2, 48000.0, blockSize);
        p->prepareToPlay (48000.0, blockSize);
        return p;
    }
}

//==============================================================================
TEST (Concurrency, ResetsPreparationsParametersSettingsAndTheEditorWhileBlocksRun)
{
    auto p = stereoProcessor();
    juce::MemoryBlock at9, at18;
    p->measurementScale = 9.0f;
    p->getStateInformation (at9);
    p->measurementScale = 18.0f;
    p->getStateInformation (at18);

    {
        // The audio thread switches between real time and offline, so that the
        // others meet steps on the loudness thread and on the audio thread.
        AudioThread audio (*p, -10.0, 0.0, [&p] (int block) { p->setNonRealtime ((block / 50) % 2 == 1); });

        std::thread resetter ([&p] {
            for (int i = 0; i < 300; ++i)
            {
                p->resetMeasurement();
                std::this_thread::sleep_for (microseconds (300));
            }
        });

        std::thread host ([&p, &at9, &at18] {
            juce::Random random (3);
            juce::MemoryBlock saved;

            for (int i = 0; i < 2000; ++i)
            {
                p->setParameter (i % 5 - 1, random.nextFloat() * 2.0f - 0.5f);
                (void) p->getParameterText (i % 3);

                const auto& block = i % 2 == 0 ? at9 : at18;
                p->setStateInformation (block.getData(), (int) block.getSize());
                p->getStateInformation (saved);
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

            if (editor != nullptr)
            {
                editor->addToDesktop (0);
                editor->setVisible (true);
            }

            for (int tick = 0; tick < 3; ++tick)
            {
                audio.waitForBlocks (1);
                juce::Timer::callPendingTimersSynchronously();

                if (editor != nullptr)
                    (void) editor->createComponentSnapshot (editor->getLocalBounds());
            }
        }

        resetter.join();
        host.join();
        audio.stop();
        EXPECT_GT (audio.blocks.load(), 30);
        EXPECT_EQ (audio.changedBlocks.load(), 0);
        EXPECT_EQ (audio.insaneReadings.load(), 0);
    }

    expectToMeasureTheReferenceTone (*p);
}

TEST (Concurrency, NothingFromBeforeAResetComesBackWhileTheLoudnessThreadMeasures)
{
    auto p = stereoProcessor(); // the loudness thread measures throughout
    AudioThread audio (*p, -10.0, 4.0);

    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE (round);

        // Loud audio, measured and published, in the last round long enough
        // for a loud 3 s window too.
        ASSERT_TRUE (audio.changeLevel (-10.0));
        ASSERT_TRUE (waitFor ([&] { return p->readings.integratedLoudness.load() > -15.0f
                                        && (round < 2 || p->readings.shortTermLoudness.load() > -15.0f); }));

        // From here on only quiet audio comes in; the FIFOs still hold loud.
        ASSERT_TRUE (audio.changeLevel (-40.0));
        p->resetMeasurement();

        // Watch what gets published until the quiet audio reads as such: no
        // loud value, and no value at all before 400 ms of new audio.
        bool sawOldValue = false, momentaryTooEarly = false;

        EXPECT_TRUE (waitFor ([&] {
            const auto v = p->readings.load();

            for (auto value : { v.momentaryLoudness, v.maxMomentaryLoudness, v.shortTermLoudness,
                                v.maxShortTermLoudness, v.integratedLoudness })
                sawOldValue = sawOldValue || value > -30.0f;

            momentaryTooEarly = momentaryTooEarly || (v.momentaryLoudness != -70.0f && v.measuredSamples < 19200.0);
            return std::abs (v.momentaryLoudness + 40.0f) < 0.15f && std::abs (v.integratedLoudness + 40.0f) < 0.15f;
        }));

        EXPECT_FALSE (sawOldValue);
        EXPECT_FALSE (momentaryTooEarly);
        EXPECT_NEAR (p->readings.maxMomentaryLoudness.load(), -40.0f, 0.101f);
    }

    audio.stop();
    EXPECT_EQ (audio.changedBlocks.load(), 0);
}

//==============================================================================
TEST (Concurrency, InstancesGoAtOnceEvenWhileTheirLoudnessThreadIsMidStep)
{
    // Pinned: the step waits for its lock while the processor is destroyed.
    {
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

    // Unpinned: long steps at 192 kHz over six channels, destroyed at odd
    // moments, and instances that were never prepared or were released. The
    // thread stops when asked; 1000 ms would mean it was ended by force.
    juce::Random random (5);

    for (int i = 0; i < (isInstrumentedBuild ? 6 : 20); ++i)
    {
        auto p = std::make_unique<Kelt5_1liteAudioProcessor>();

        if (i % 4 != 0)
        {
            p->prepareToPlay (192000.0, 8192);
            PlayingHost host (*p, 192000.0);
            ToneProgramme tone ({ { -20.0, 1000.0, i % 4 == 1 ? 4.0 : 0.1 } }, 192000.0);
            EXPECT_TRUE (host.play (tone, 6, 8192));

            if (i % 4 == 2)
                p->releaseResources();
        }

        std::this_thread::sleep_for (milliseconds (random.nextInt (60)));
        const auto start = Clock::now();
        p.reset();
        EXPECT_LT (Clock::now() - start, milliseconds (900));
    }
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
