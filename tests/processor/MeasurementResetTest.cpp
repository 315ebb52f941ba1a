#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/TestPlayHead.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

namespace
{
    using Clock = std::chrono::steady_clock;

    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 2400;
    constexpr int momentaryWindow = 19200;

    /** A host's audio thread playing a stereo 1 kHz sine through the
        processor at four times real time, with a level the test can change. */
    class FastHost final
    {
    public:
        explicit FastHost (Kelt5_1liteAudioProcessor& processor, float levelDb)
            : p (processor)
        {
            amplitude = std::pow (10.0f, levelDb / 20.0f);
            p.setPlayHead (&playHead);
            thread = std::thread ([this] { run(); });
        }

        ~FastHost()
        {
            stop = true;
            thread.join();
            p.setPlayHead (nullptr);
        }

        /** Returns once a whole block at the new level has been processed, so
            that every later block carries it too. */
        bool changeLevel (float levelDb)
        {
            amplitude = std::pow (10.0f, levelDb / 20.0f);
            const auto request = ++levelRequests;
            return waitFor ([&] { return levelPlayed.load() == request; }, std::chrono::seconds (2));
        }

        static bool waitFor (const std::function<bool()>& condition, Clock::duration timeout)
        {
            const auto deadline = Clock::now() + timeout;

            while (! condition())
            {
                if (Clock::now() > deadline)
                    return false;

                std::this_thread::sleep_for (std::chrono::milliseconds (1));
            }

            return true;
        }

    private:
        void run()
        {
            juce::AudioSampleBuffer block (2, blockSize);
            juce::MidiBuffer midi;
            const auto period = std::chrono::microseconds (12500);   // 50 ms of audio
            const auto start = Clock::now();

            for (juce::int64 b = 0; ! stop.load(); ++b)
            {
                const auto request = levelRequests.load();
                const auto gain = amplitude.load();

                // 2400 samples hold exactly 50 periods.
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < blockSize; ++i)
                        block.setSample (c, i, gain * static_cast<float> (std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0
                                                                                    * static_cast<double> (i) / sampleRate)));

                playHead.set (true, b * blockSize);
                p.processBlock (block, midi);
                levelPlayed = request;

                std::this_thread::sleep_until (start + (b + 1) * period);
            }
        }

        Kelt5_1liteAudioProcessor& p;
        TestPlayHead playHead;
        std::atomic<float> amplitude { 0.0f };
        std::atomic<int> levelRequests { 0 }, levelPlayed { 0 };
        std::atomic<bool> stop { false };
        std::thread thread;
    };

    bool isMinus70OrItsPosition (const Kelt5_1liteAudioProcessor& p, float value, float initial)
    {
        return value == initial || value == p.loudnessToMeterPosition (-70.0f);
    }
}

//==============================================================================
TEST (MeasurementReset, NothingFromBeforeTheResetComesBack)
{
    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, sampleRate, blockSize);
    p.prepareToPlay (sampleRate, blockSize);   // the loudness thread measures throughout

    FastHost host (p, -10.0f);
    constexpr int rounds = 5;
    int checkedAtOnce = 0;

    for (int round = 0; round < rounds; ++round)
    {
        SCOPED_TRACE (round);
        const bool lastRound = round == rounds - 1;

        // Loud audio, measured and published; every other round long enough
        // for a loud 3 s window too.
        ASSERT_TRUE (host.changeLevel (-10.0f));
        ASSERT_TRUE (FastHost::waitFor ([&]
        {
            return p.readings.integratedLoudness.load() > -15.0f
                && (round % 2 != 0 || p.readings.shortTermLoudness.load() > -15.0f);
        }, std::chrono::seconds (4)));

        // From here on only quiet audio comes in; the FIFOs still hold loud.
        ASSERT_TRUE (host.changeLevel (-40.0f));

        p.resetMeasurement();
        const auto r = p.readings.load();
        const auto measured = p.readings.measuredSamples.load();

        // Blocks that ran since the reset returned can only have published
        // the floor: no new window can be whole yet.
        if (measured < momentaryWindow)
        {
            ++checkedAtOnce;
            EXPECT_EQ (r.momentaryLoudness, -70.0f);
            EXPECT_EQ (r.shortTermLoudness, -70.0f);
            EXPECT_EQ (r.integratedLoudness, -70.0f);
            EXPECT_EQ (r.loudnessRange, -70.0f);
            EXPECT_EQ (r.maxMomentaryLoudness, -70.0f);
            EXPECT_EQ (r.maxShortTermLoudness, -70.0f);
            EXPECT_EQ (r.truePeakOverload, 0);
            EXPECT_TRUE (isMinus70OrItsPosition (p, r.momentaryMeterPosition, 0.0f));
            EXPECT_TRUE (isMinus70OrItsPosition (p, r.shortTermMeterPosition, 0.0f));
            EXPECT_TRUE (isMinus70OrItsPosition (p, r.rangeLowMeterPosition, -70.0f));
            EXPECT_TRUE (isMinus70OrItsPosition (p, r.rangeHighMeterPosition, -70.0f));
        }

        // Watch what gets published until the quiet audio reads as such.
        bool sawOldValue = false, momentaryTooEarly = false;

        const auto settled = FastHost::waitFor ([&]
        {
            const auto v = p.readings.load();
            const auto samplesSinceReset = p.readings.measuredSamples.load();

            for (auto value : { v.momentaryLoudness, v.maxMomentaryLoudness, v.shortTermLoudness,
                                v.maxShortTermLoudness, v.integratedLoudness })
                sawOldValue = sawOldValue || value > -30.0f;

            // A momentary value above the floor needs 400 ms of new audio.
            momentaryTooEarly = momentaryTooEarly || (v.momentaryLoudness != -70.0f && samplesSinceReset < momentaryWindow);

            return std::abs (v.momentaryLoudness + 40.0f) < 0.15f
                && std::abs (v.integratedLoudness + 40.0f) < 0.15f
                && (! lastRound || std::abs (v.shortTermLoudness + 40.0f) < 0.15f);
        }, std::chrono::seconds (4));

        EXPECT_TRUE (settled);
        EXPECT_FALSE (sawOldValue);
        EXPECT_FALSE (momentaryTooEarly);

        // Integration started from nothing: quiet audio alone reads -40.
        EXPECT_NEAR (p.readings.integratedLoudness.load(), -40.0f, 0.101f);
        EXPECT_NEAR (p.readings.maxMomentaryLoudness.load(), -40.0f, 0.101f);
    }

    EXPECT_GT (checkedAtOnce, 0);
    EXPECT_NEAR (p.readings.shortTermLoudness.load(), -40.0f, 0.101f);
    EXPECT_NEAR (p.readings.loudnessRange.load(), 0.0f, 0.101f);
}
