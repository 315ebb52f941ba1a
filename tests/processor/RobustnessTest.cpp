#include <gtest/gtest.h>

#include "support/TestAudio.h"
#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/InstrumentedBuild.h"
#include "support/TestPlayHead.h"
#include "support/Watchdog.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// What hosts and users throw at a plug-in: odd rates and block sizes, odd
// channel counts, hostile samples, calls from several threads at once, and
// instances that come and go. The audio must pass through untouched and the
// readings must stay meaningful.

namespace
{
    using namespace std::chrono;

    constexpr double rate = 48000.0;
    constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
    constexpr float infinity = std::numeric_limits<float>::infinity();


    /** Loudness values are NaN (a window that held a bad sample) or lie on
        the meter's span; what is integrated over time is never NaN. */
    ::testing::AssertionResult saneReadings (const Kelt5_1liteAudioProcessor& p)
    {
        const auto r = p.readings.load();
        const auto onSpan = [] (float v) { return v >= -70.0f && v <= 0.0f; };

        for (auto v : { r.momentaryLoudness, r.shortTermLoudness })
            if (! (std::isnan (v) || onSpan (v)))
                return ::testing::AssertionFailure() << "a loudness of " << v;

        for (auto v : { r.integratedLoudness, r.maxMomentaryLoudness, r.maxShortTermLoudness })
            if (! onSpan (v))
                return ::testing::AssertionFailure() << "an integrated loudness or maximum of " << v;

        if (! (r.loudnessRange == -70.0f || (r.loudnessRange >= 0.0f && r.loudnessRange <= 70.0f)))
            return ::testing::AssertionFailure() << "a loudness range of " << r.loudnessRange;

        if (! (r.measuredSamples >= 0.0 && std::isfinite (r.measuredSamples)))
            return ::testing::AssertionFailure() << "a measured time of " << r.measuredSamples;

        if (r.truePeakOverload != 0 && r.truePeakOverload != 1)
            return ::testing::AssertionFailure() << "a true-peak latch of " << r.truePeakOverload;

        return ::testing::AssertionSuccess();
    }

    /** A sine of one peak level in every channel; the phase runs on across blocks. */
    struct Sine
    {
        double levelDbfs = -20.0, frequency = 1000.0, sampleRate = rate;
        double phase = 0.0;

        void fill (juce::AudioBuffer<float>& buffer)
        {
            const auto amplitude = std::pow (10.0, levelDbfs / 20.0);

            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                const auto value = static_cast<float> (amplitude * std::sin (phase));
                phase = std::fmod (phase + juce::MathConstants<double>::twoPi * frequency / sampleRate,
                                   juce::MathConstants<double>::twoPi);

                for (int c = 0; c < buffer.getNumChannels(); ++c)
                    buffer.setSample (c, i, value);
            }
        }
    };

    /** A processor under a host whose transport plays and moves on with every block. */
    class Player
    {
    public:
        Player (int channels, double sampleRate, int blockSize, bool offline)
            : numChannels (channels)
        {
            p.setPlayConfigDetails (channels, channels, sampleRate, blockSize);
            p.setNonRealtime (offline);
            p.setPlayHead (&playHead);
            p.prepareToPlay (sampleRate, blockSize);
        }

        /** One block in place; false if any sample came out changed. */
        bool process (juce::AudioBuffer<float>& block)
        {
            input.makeCopyOf (block, true);
            playHead.set (true, position);
            position += block.getNumSamples();
            p.processBlock (block, midi);
            return TestAudio::sameBits (block, input);
        }

        /** The sine for a while, in blocks of one length; false if any audio changed. */
        bool play (Sine& sine, double seconds, int blockSize)
        {
            const auto total = static_cast<juce::int64> (seconds * sine.sampleRate);
            bool unchanged = true;

            for (juce::int64 done = 0; done < total; done += blockSize)
            {
                buffer.setSize (numChannels, static_cast<int> (juce::jmin<juce::int64> (blockSize, total - done)),
                                false, false, true);
                sine.fill (buffer);
                unchanged = process (buffer) && unchanged;
            }

            return unchanged;
        }

        TestPlayHead playHead;   // outlives the processor that points to it
        Kelt5_1liteAudioProcessor p;
        const int numChannels;
        juce::int64 position = 0;

    private:
        juce::AudioBuffer<float> buffer, input;
        juce::MidiBuffer midi;
    };

    /** A host's audio thread: blocks of a sine, one after another, until
        stopped, each checked for pass-through and sane readings. */
    class AudioThread
    {
    public:
        AudioThread (Player& playerToUse, int blockSize, std::function<void (int)> beforeEachBlock = {})
            : player (playerToUse)
        {
            thread = std::thread ([this, blockSize, beforeEachBlock]
            {
                Sine sine { -10.0 };
                juce::AudioBuffer<float> buffer (player.numChannels, blockSize);

                for (int block = 0; running.load(); ++block)
                {
                    if (beforeEachBlock)
                        beforeEachBlock (block);

                    sine.fill (buffer);

                    if (! player.process (buffer))
                        ++changedBlocks;

                    if (! saneReadings (player.p))
                        ++insaneReadings;

                    ++blocks;
                    std::this_thread::yield();
                }
            });
        }

        ~AudioThread()   { stop(); }

        void stop()
        {
            running = false;

            if (thread.joinable())
                thread.join();
        }

        std::atomic<int> blocks { 0 }, changedBlocks { 0 }, insaneReadings { 0 };

    private:
        Player& player;
        std::atomic<bool> running { true };
        std::thread thread;
    };

    /** Waits until the audio thread has run at least this many more blocks. */
    void waitForBlocks (const AudioThread& audio, int count)
    {
        const auto target = audio.blocks.load() + count;
        while (audio.blocks.load() < target)
            std::this_thread::sleep_for (microseconds (200));
    }

    /** After whatever went before: a fresh measurement of a -20 dBFS stereo
        tone, measured offline so that no window is lost, reads -20 LUFS. */
    void expectToMeasureTheReferenceTone (Player& player, double sampleRate = rate)
    {
        player.p.setNonRealtime (true);
        player.p.prepareToPlay (sampleRate, 4800);
        player.p.resetMeasurement();

        Sine sine { -20.0, 1000.0, sampleRate };
        EXPECT_TRUE (player.play (sine, 3.5, 4800));

        const auto r = player.p.readings.load();
        EXPECT_NEAR (r.momentaryLoudness, -20.0f, 0.11f);
        EXPECT_NEAR (r.shortTermLoudness, -20.0f, 0.11f);
        EXPECT_NEAR (r.integratedLoudness, -20.0f, 0.11f);
        EXPECT_NEAR (r.maxMomentaryLoudness, -20.0f, 0.11f);
        EXPECT_NEAR (r.loudnessRange, 0.0f, 0.11f);
        EXPECT_EQ (r.measuredSamples, std::floor (3.5 * sampleRate));
    }
}

//==============================================================================
// Preparation

class RobustnessAtRate : public ::testing::TestWithParam<double> {};

TEST_P (RobustnessAtRate, EveryBlockSizeMeasuresTheToneAsAt48kHz)
{
    const auto sampleRate = GetParam();

    // A rate without a filter set of its own runs the 48 kHz set, whose curve
    // then scales with the rate: a tone scaled the same way reads the same.
    const auto hasOwnSet = [] (int r) { return r == 44100 || r == 48000 || r == 88200 || r == 96000
                                            || r == 176400 || r == 192000; };
    const auto frequency = hasOwnSet (static_cast<int> (sampleRate)) ? 1000.0 : 1000.0 * sampleRate / 48000.0;

    for (int blockSize : { 1, 17, 64, 512, 4096 })
    {
        SCOPED_TRACE ("block size " + std::to_string (blockSize));

        Player player (2, sampleRate, blockSize, true);
        Sine sine { -20.0, frequency, sampleRate };
        EXPECT_TRUE (player.play (sine, 0.6, blockSize));

        const auto r = player.p.readings.load();
        EXPECT_NEAR (r.momentaryLoudness, -20.0f, 0.11f);
        EXPECT_NEAR (r.integratedLoudness, -20.0f, 0.11f);
        EXPECT_EQ (r.shortTermLoudness, -70.0f);   // 3 s not yet full
        EXPECT_EQ (r.truePeakOverload, 0);
        EXPECT_TRUE (saneReadings (player.p));
    }
}

INSTANTIATE_TEST_SUITE_P (Rates, RobustnessAtRate,
                          ::testing::Values (44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0,
                                             22050.0, 32000.0, 50000.0, 48000.5),
                          [] (const ::testing::TestParamInfo<double>& param)
                          {
                              return "Hz" + juce::String (param.param, 1).replaceCharacter ('.', '_').toStdString();
                          });

TEST (Robustness, PreparingAgainAtNewRatesWhileBlocksRun)
{
    const Watchdog watchdog ("preparing while blocks run", seconds (120));
    Player player (2, rate, 512, false);

    {
        AudioThread audio (player, 512);
        const double rates[] = { 44100.0, 96000.0, 48000.0, 192000.0, 22050.0, 88200.0 };
        const int blockSizes[] = { 512, 64, 4096, 1 };

        // Each new rate allocates its FIFOs afresh, which instrumented builds
        // make slow.
        for (int i = 0; i < (isInstrumentedBuild ? 12 : 24); ++i)
        {
            player.p.prepareToPlay (rates[i % 6], blockSizes[i % 4]);

            if (i % 5 == 4)
                player.p.releaseResources();

            waitForBlocks (audio, 3);
        }

        audio.stop();
        EXPECT_EQ (audio.changedBlocks.load(), 0);
        EXPECT_EQ (audio.insaneReadings.load(), 0);
    }

    expectToMeasureTheReferenceTone (player);
}

TEST (Robustness, ReleasingAndPreparingOverAndOverKeepsTheLoudnessThreadWorking)
{
    Player player (2, rate, 480, false);
    Sine sine { -20.0 };

    player.p.releaseResources();
    player.p.releaseResources();

    for (int i = 0; i < 30; ++i)
    {
        player.p.prepareToPlay (rate, 480);

        if (i % 3 == 0)
            player.p.prepareToPlay (rate, 480);

        EXPECT_TRUE (player.play (sine, 0.05, 480));
        player.p.releaseResources();
    }

    EXPECT_EQ (player.p.readings.measuredSamples.load(), 30 * 2400.0);

    // Attached again, the thread measures by itself.
    // Paced near real time: the loop above outran the thread and left the FIFO
    // nearly full, and a reset frees that room only once the thread's next
    // step has caught up with it.
    player.p.resetMeasurement();
    player.p.prepareToPlay (rate, 480);

    for (int i = 0; i < 20; ++i)
    {
        EXPECT_TRUE (player.play (sine, 0.05, 480));
        std::this_thread::sleep_for (milliseconds (25));
    }

    const auto start = steady_clock::now();
    while (player.p.loudnessModule.latestMomentary.load() == -70.0f && steady_clock::now() - start < seconds (5))
        std::this_thread::sleep_for (milliseconds (5));

    EXPECT_NEAR (player.p.loudnessModule.latestMomentary.load(), -20.0f, 0.11f);
}

TEST (Robustness, AbsurdRatesAndBlockSizesNeitherCrashNorHang)
{
    const Watchdog watchdog ("absurd preparation", seconds (60));
    const double absurdRates[] = { 0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(), 1.0e9, 1.0, 2.0, 2.4, 9.99, 10.0 };

    for (bool preparedFirst : { false, true })
    {
        for (auto absurdRate : absurdRates)
        {
            for (int blockSize : { 0, -1, 512 })
            {
                SCOPED_TRACE (juce::String (absurdRate) + " Hz, blocks of " + juce::String (blockSize)
                              + (preparedFirst ? " after 48 kHz" : ""));

                Kelt5_1liteAudioProcessor p;
                TestPlayHead playHead;
                p.setPlayHead (&playHead);
                p.setPlayConfigDetails (2, 2, rate, 512);

                if (preparedFirst)
                    p.prepareToPlay (rate, 512);

                p.prepareToPlay (absurdRate, blockSize);

                juce::Random random (42);
                juce::AudioBuffer<float> buffer, input;
                juce::MidiBuffer midi;
                juce::int64 position = 0;

                for (bool offline : { false, true })
                {
                    p.setNonRealtime (offline);

                    for (int length : { 0, 1, 480, 4096 })
                    {
                        buffer.setSize (2, length);

                        for (int c = 0; c < 2; ++c)
                            for (int i = 0; i < length; ++i)
                                buffer.setSample (c, i, random.nextFloat() - 0.5f);

                        input.makeCopyOf (buffer);
                        playHead.set (true, position);
                        position += length;
                        p.processBlock (buffer, midi);
                        EXPECT_TRUE (TestAudio::sameBits (buffer, input));
                    }
                }

                EXPECT_TRUE (saneReadings (p));
            }
        }
    }

    // A sound preparation afterwards sets everything right.
    Player player (2, rate, 512, false);
    player.p.prepareToPlay (std::numeric_limits<double>::quiet_NaN(), -1);
    expectToMeasureTheReferenceTone (player);
}

//==============================================================================
// Blocks

TEST (Robustness, EmptyVaryingAndOversizedBlocksAreMeasuredWhole)
{
    Player player (2, rate, 512, true);
    Sine sine { -20.0 };
    juce::Random random (7);
    juce::AudioBuffer<float> buffer;
    juce::int64 played = 0;

    // Lengths from nothing to two seconds, most of them longer than the
    // prepared 512 and many longer than a 400 ms window.
    while (played < 4 * 48000)
    {
        const auto pick = random.nextInt (10);
        const auto length = pick < 2 ? 0 : pick < 8 ? random.nextInt (3000) + 1 : random.nextInt (96000) + 1;

        buffer.setSize (2, length);
        sine.fill (buffer);
        EXPECT_TRUE (player.process (buffer));
        played += length;
    }

    const auto r = player.p.readings.load();
    EXPECT_EQ (r.measuredSamples, static_cast<double> (played));
    EXPECT_NEAR (r.momentaryLoudness, -20.0f, 0.11f);
    EXPECT_NEAR (r.shortTermLoudness, -20.0f, 0.11f);
    EXPECT_NEAR (r.integratedLoudness, -20.0f, 0.11f);
    EXPECT_NEAR (r.maxMomentaryLoudness, -20.0f, 0.11f);
    EXPECT_NEAR (r.loudnessRange, 0.0f, 0.11f);
}

TEST (Robustness, AnyChannelCountPassesThroughAndOnlyTheFirstSixAreMeasured)
{
    // -30 dBFS in every channel: one channel reads -33 LUFS, and each further
    // channel adds its weight in the announced layout (mono, stereo, 5.0,
    // 5.1: L, R, C 1, LFE 0, surrounds 1.41).
    const auto expected = [] (int channels)
    {
        const float weights5point1[] = { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f };
        const float weights5point0[] = { 1.0f, 1.0f, 1.0f, 1.41f, 1.41f };
        float sum = 0.0f;

        for (int c = 0; c < juce::jmin (channels, 6); ++c)
            sum += channels == 5 ? weights5point0[c] : weights5point1[c];

        return -33.0f + 10.0f * std::log10 (sum);
    };

    for (int channels : { 1, 2, 5, 6, 8, 12 })
    {
        SCOPED_TRACE (std::to_string (channels) + " channels");

        // A host never announces more than six; the buffer may still hold more.
        Player player (juce::jmin (channels, 6), rate, 1024, true);
        player.p.truePeakMaxLevel = -1.0f;

        Sine sine { -30.0 };
        juce::AudioBuffer<float> buffer (channels, 1024);

        for (int block = 0; block < 30; ++block)
        {
            sine.fill (buffer);

            // Full scale beyond the sixth channel: neither measured nor latched.
            for (int c = 6; c < channels; ++c)
                buffer.setSample (c, 100, 1.0f);

            EXPECT_TRUE (player.process (buffer));
        }

        EXPECT_NEAR (player.p.readings.momentaryLoudness.load(), expected (channels), 0.11f);
        EXPECT_EQ (player.p.readings.truePeakOverload.load(), 0);
    }

    // The count may change from block to block.
    Player player (6, rate, 512, true);
    Sine sine { -20.0 };

    for (int block = 0; block < 40; ++block)
    {
        const int counts[] = { 2, 6, 1, 8, 5, 3 };
        juce::AudioBuffer<float> buffer (counts[block % 6], 512);
        sine.fill (buffer);
        EXPECT_TRUE (player.process (buffer));
    }

    EXPECT_TRUE (saneReadings (player.p));
}

//==============================================================================
// Input

TEST (Robustness, SilenceFullScaleDenormalsAndDirectCurrentReadWhatTheyAre)
{
    struct Signal
    {
        const char* name;
        std::function<float (int)> sample;
        float loudness;
        int latch;
        bool steadyFromTheStart;   // no step response to count in the integration
    };

    const Signal signals[] = {
        { "silence",             [] (int) { return 0.0f; },                                      -70.0f, 0, true },
        { "a full-scale square", [] (int i) { return (i / 24) % 2 == 0 ? 1.0f : -1.0f; },        0.0f,   1, true },
        { "denormals",           [] (int i) { return (i % 2 == 0 ? 1.0f : -1.0f) * 1.0e-40f; }, -70.0f, 0, true },
        { "direct current",      [] (int) { return 0.5f; },                                      -70.0f, 0, false },
    };

    for (const auto& signal : signals)
    {
        SCOPED_TRACE (signal.name);

        const Watchdog watchdog (signal.name, seconds (60));
        Player player (2, rate, 4800, true);
        player.p.truePeakMaxLevel = -1.0f;
        juce::AudioBuffer<float> buffer (2, 4800);
        int sampleIndex = 0;

        for (int block = 0; block < 40; ++block)
        {
            for (int i = 0; i < 4800; ++i, ++sampleIndex)
                for (int c = 0; c < 2; ++c)
                    buffer.setSample (c, i, signal.sample (sampleIndex));

            EXPECT_TRUE (player.process (buffer));
        }

        // Direct current leaves a brief step response in the first windows,
        // then the K-weighting's high-pass takes it all away.
        const auto r = player.p.readings.load();
        EXPECT_EQ (r.momentaryLoudness, signal.loudness);
        EXPECT_EQ (r.shortTermLoudness, signal.loudness);
        EXPECT_EQ (r.truePeakOverload, signal.latch);
        EXPECT_TRUE (saneReadings (player.p));

        if (signal.steadyFromTheStart)
        {
            EXPECT_EQ (r.integratedLoudness, signal.loudness);
            EXPECT_EQ (r.loudnessRange, 0.0f);
        }
    }
}

TEST (Robustness, ABadSampleSpoilsOnlyTheWindowsThatHoldIt)
{
    for (float bad : { notANumber, infinity, -infinity })
    {
        for (bool wholeBlock : { false, true })
        {
            SCOPED_TRACE (juce::String (bad) + (wholeBlock ? " in every sample of a block" : " once"));

            Player player (2, rate, 4800, true);
            player.p.truePeakMaxLevel = -1.0f;
            Sine sine { -20.0 };
            EXPECT_TRUE (player.play (sine, 4.0, 4800));

            const auto before = player.p.readings.load();
            ASSERT_NEAR (before.momentaryLoudness, -20.0f, 0.11f);

            juce::AudioBuffer<float> buffer (2, 4800);
            sine.fill (buffer);

            if (wholeBlock)
                for (int c = 0; c < 2; ++c)
                    juce::FloatVectorOperations::fill (buffer.getWritePointer (c), bad, 4800);
            else
                buffer.setSample (0, 1234, bad);

            EXPECT_TRUE (player.process (buffer));   // bit for bit, NaN included
            EXPECT_TRUE (saneReadings (player.p));

            // An infinite sample is over any limit; a NaN is no level at all.
            EXPECT_EQ (player.p.readings.truePeakOverload.load(), std::isinf (bad) ? 1 : 0);

            // Once the bad window has passed, everything reads as before, with
            // no change of play state or reset to help.
            EXPECT_TRUE (player.play (sine, 1.0, 4800));
            EXPECT_EQ (player.p.readings.momentaryLoudness.load(), before.momentaryLoudness);

            EXPECT_TRUE (player.play (sine, 3.0, 4800));
            const auto after = player.p.readings.load();
            EXPECT_EQ (after.shortTermLoudness, before.shortTermLoudness);
            EXPECT_EQ (after.maxMomentaryLoudness, before.maxMomentaryLoudness);
            EXPECT_EQ (after.integratedLoudness, before.integratedLoudness);
            EXPECT_TRUE (saneReadings (player.p));
        }
    }
}

//==============================================================================
// Threads

TEST (Robustness, ParametersChangeFromAnotherThreadWhileBlocksRun)
{
    const Watchdog watchdog ("parameter changes while blocks run", seconds (60));
    Player player (2, rate, 512, false);

    {
        AudioThread audio (player, 512);

        std::thread host ([&player, &audio]
        {
            juce::Random random (3);

            JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
            for (int i = 0; i < 3000 || audio.blocks.load() < 200; ++i)
            {
                const auto index = i % 5 - 1;   // -1 and 3 are not parameters
                player.p.setParameter (index, random.nextFloat() * 2.0f - 0.5f);
                (void) player.p.getParameter (index);
                (void) player.p.getParameterText (index);
            }
            JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        });

        host.join();
        waitForBlocks (audio, 5);
        audio.stop();

        EXPECT_GT (audio.blocks.load(), 0);
        EXPECT_EQ (audio.changedBlocks.load(), 0);
        EXPECT_EQ (audio.insaneReadings.load(), 0);
    }

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    player.p.setParameter (1, 1.0f);
    player.p.setParameter (2, 0.5f);
    EXPECT_EQ (player.p.measurementScale.load(), 18.0f);
    EXPECT_EQ (player.p.truePeakMaxLevel.load(), -6.5f);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

TEST (Robustness, StateIsSavedAndRestoredFromAnotherThreadWhileBlocksRun)
{
    const Watchdog watchdog ("saving and restoring while blocks run", seconds (60));

    juce::MemoryBlock at9, at18;
    {
        Kelt5_1liteAudioProcessor source;
        source.getStateInformation (at18);
        source.measurementScale = 9.0f;
        source.getStateInformation (at9);
    }

    Player player (2, rate, 512, false);
    AudioThread audio (player, 512);
    juce::Random random (11);
    juce::MemoryBlock saved, garbage;

    for (int i = 0; i < 400 || audio.blocks.load() < 200; ++i)
    {
        const auto& block = i % 2 == 0 ? at9 : at18;
        player.p.setStateInformation (block.getData(), static_cast<int> (block.getSize()));

        // Bytes that are not a saved block change nothing.
        garbage.setSize (static_cast<size_t> (random.nextInt (64)));
        random.fillBitsRandomly (garbage.getData(), garbage.getSize());
        player.p.setStateInformation (garbage.getData(), static_cast<int> (garbage.getSize()));

        player.p.getStateInformation (saved);
        EXPECT_EQ (saved, block) << "round " << i;
    }

    waitForBlocks (audio, 5);
    audio.stop();
    EXPECT_EQ (audio.changedBlocks.load(), 0);
    EXPECT_EQ (audio.insaneReadings.load(), 0);
}

TEST (Robustness, MeasurementResetsFromAThirdThreadWhileBlocksRun)
{
    const Watchdog watchdog ("measurement resets while blocks run", seconds (120));
    Player player (2, rate, 512, false);

    {
        // The audio thread switches between real time and offline, so resets
        // meet steps on the loudness thread and on the audio thread alike.
        AudioThread audio (player, 512, [&player] (int block) { player.p.setNonRealtime ((block / 50) % 2 == 1); });

        std::thread editor ([&player]
        {
            for (int i = 0; i < 300; ++i)
            {
                player.p.resetMeasurement();
                std::this_thread::sleep_for (microseconds (300));
            }
        });

        editor.join();
        waitForBlocks (audio, 5);
        audio.stop();

        EXPECT_GT (audio.blocks.load(), 0);
        EXPECT_EQ (audio.changedBlocks.load(), 0);
        EXPECT_EQ (audio.insaneReadings.load(), 0);
    }

    // The storm played -10 dBFS; nothing of it may leak into what follows.
    expectToMeasureTheReferenceTone (player);
}

TEST (Robustness, TheEditorOpensAndClosesWhileBlocksRun)
{
    const Watchdog watchdog ("the editor coming and going while blocks run", seconds (60));
    Player player (2, rate, 512, false);
    AudioThread audio (player, 512);

    for (int i = 0; i < 10; ++i)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (player.p.createEditor());
        ASSERT_NE (editor, nullptr);
        editor->addToDesktop (0);
        editor->setVisible (true);

        // What the message loop would do meanwhile: timer ticks and repaints.
        for (int tick = 0; tick < 3; ++tick)
        {
            std::this_thread::sleep_for (milliseconds (10));
            juce::Timer::callPendingTimersSynchronously();
            (void) editor->createComponentSnapshot (editor->getLocalBounds());
        }

        editor.reset();
    }

    audio.stop();
    EXPECT_EQ (audio.changedBlocks.load(), 0);
    EXPECT_EQ (audio.insaneReadings.load(), 0);
}

//==============================================================================
// Lifetime

TEST (Robustness, ManyInstancesComeAndGoWithoutWaitingForTheThreadTimeOut)
{
    const Watchdog watchdog ("creating and destroying instances", seconds (120));
    auto slowest = steady_clock::duration::zero();

    for (int i = 0; i < 60; ++i)
    {
        auto player = std::make_unique<Player> (2, rate, 512, false);

        if (i % 3 == 0)
            player->p.releaseResources();

        if (i % 3 == 2)
        {
            Sine sine;
            EXPECT_TRUE (player->play (sine, 0.1, 512));
        }

        const auto start = steady_clock::now();
        player.reset();
        slowest = std::max (slowest, steady_clock::now() - start);
    }

    // The thread stops when asked; 1000 ms would mean it was ended by force.
    EXPECT_LT (slowest, milliseconds (500));
}

TEST (Robustness, SeveralInstancesAtOnceKeepTheirOwnMeasurements)
{
    const Watchdog watchdog ("several instances at once", seconds (120));
    constexpr int numInstances = 6;

    std::vector<std::unique_ptr<Player>> players;
    std::vector<std::thread> threads;
    std::atomic<int> changedBlocks { 0 };

    for (int i = 0; i < numInstances; ++i)
        players.push_back (std::make_unique<Player> (2, rate, 1024, i % 2 == 0));

    // Each plays its own level; offline ones measure every window, real-time
    // ones pushed this fast measure fewer, but of the same level.
    for (int i = 0; i < numInstances; ++i)
    {
        threads.emplace_back ([&players, &changedBlocks, i]
        {
            Sine sine { -12.0 - 4.0 * i };

            if (! players[(size_t) i]->play (sine, 3.0, 1024))
                ++changedBlocks;
        });
    }

    for (auto& t : threads)
        t.join();

    EXPECT_EQ (changedBlocks.load(), 0);

    for (int i = 0; i < numInstances; ++i)
    {
        auto& p = players[(size_t) i]->p;

        if (i % 2 == 1)   // real time: let the loudness thread catch up
        {
            const auto start = steady_clock::now();
            while (p.loudnessModule.latestIntegrated.load() == -70.0f && steady_clock::now() - start < seconds (5))
                std::this_thread::sleep_for (milliseconds (5));
        }

        EXPECT_NEAR (p.loudnessModule.latestIntegrated.load(), -12.0f - 4.0f * (float) i, 0.11f) << "instance " << i;
    }

    // All destroyed at once, from threads of their own.
    threads.clear();
    const auto start = steady_clock::now();

    for (auto& player : players)
        threads.emplace_back ([&player] { player.reset(); });

    for (auto& t : threads)
        t.join();

    EXPECT_LT (steady_clock::now() - start, milliseconds (1000));
}

TEST (Robustness, DestroyedWhileTheLoudnessThreadIsMidStep)
{
    const Watchdog watchdog ("destruction during a measurement step", seconds (60));

    // Pinned: the step waits for its lock while the processor is destroyed.
    {
        auto player = std::make_unique<Player> (2, rate, 512, false);
        auto& stepLock = player->p.loudnessModule.stepLock;
        std::unique_lock<std::mutex> pin (stepLock);

        std::this_thread::sleep_for (milliseconds (120));   // past the next 50 ms step
        const auto start = steady_clock::now();
        std::atomic<bool> destroyed { false };
        std::thread destroyer ([&] { player.reset(); destroyed = true; });

        std::this_thread::sleep_for (milliseconds (50));
        const auto destroyedTooEarly = destroyed.load();
        pin.unlock();
        destroyer.join();

        EXPECT_LT (steady_clock::now() - start, milliseconds (900));

        if (destroyedTooEarly)
            std::printf ("Note: the loudness thread had not reached its step in time\n");
    }

    // Unpinned: long steps at 192 kHz over six channels, destroyed at odd moments.
    juce::Random random (5);

    for (int i = 0; i < (isInstrumentedBuild ? 3 : 8); ++i)
    {
        auto player = std::make_unique<Player> (6, 192000.0, 8192, false);
        Sine sine { -20.0, 1000.0, 192000.0 };
        EXPECT_TRUE (player->play (sine, 4.0, 8192));
        std::this_thread::sleep_for (milliseconds (random.nextInt (60)));

        const auto start = steady_clock::now();
        player.reset();
        EXPECT_LT (steady_clock::now() - start, milliseconds (900));
    }
}
