#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/TarnLoudnessModule.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace
{
    constexpr double rate = 48000.0;

    /** Feeds the engine a sine in the given channels, a block at a time. */
    struct SineFeeder
    {
        SineFeeder (TarnLoudnessModule& e, std::initializer_list<int> activeChannels, float peak = 1.0f)
            : engine (e), channels (activeChannels), amplitude (peak) {}

        void feed (int numSamples)
        {
            juce::AudioSampleBuffer block (6, numSamples);
            block.clear();

            for (int i = 0; i < numSamples; ++i)
            {
                const auto value = amplitude * static_cast<float> (std::sin (2.0 * juce::MathConstants<double>::pi * 997.0
                                                                             * static_cast<double> (sampleIndex + i) / rate));
                for (auto c : channels)
                    block.setSample (c, i, value);
            }

            sampleIndex += numSamples;
            engine.weight (block);
            engine.push (0, numSamples);
        }

        TarnLoudnessModule& engine;
        std::vector<int> channels;
        float amplitude;
        juce::int64 sampleIndex = 0;
    };

    /** Momentary loudness after two seconds of a full-scale sine. */
    float settledMomentary (std::initializer_list<int> channels)
    {
        TarnLoudnessModule engine;
        engine.prepare (rate, 2400);
        SineFeeder feeder (engine, channels);

        for (int i = 0; i < 40; ++i)
        {
            feeder.feed (2400);
            engine.updateLoudness();
        }

        return engine.latestMomentary.load();
    }
}

TEST (LoudnessEngine, ChannelWeightsGoByIndex)
{
    EXPECT_EQ (settledMomentary ({ 0 }), -3.0f);
    EXPECT_EQ (settledMomentary ({ 1 }), -3.0f);
    EXPECT_EQ (settledMomentary ({ 4 }), -1.5f);
    EXPECT_EQ (settledMomentary ({ 5 }), -1.5f);
    EXPECT_EQ (settledMomentary ({ 3 }), -70.0f);
    EXPECT_EQ (settledMomentary ({ 0, 1, 2 }), 0.0f);   // about +1.76, capped
}

TEST (LoudnessEngine, WindowsArriveOnTheHopGrid)
{
    TarnLoudnessModule engine;
    engine.prepare (rate, 100);
    SineFeeder feeder (engine, { 0, 1 }, 0.25f);

    // Feed a sample block at a time, stepping after each, and note the sample
    // counts at which each kind of value appears.
    std::vector<juce::int64> momentaryAt, shortTermAt;

    for (int i = 0; i < 2100; ++i)
    {
        feeder.feed (100);
        engine.updateLoudness();

        if (engine.newMomentaryAvailable.load())
            momentaryAt.push_back (feeder.sampleIndex);
        if (engine.newShortTermAvailable.load())
            shortTermAt.push_back (feeder.sampleIndex);
    }

    ASSERT_GE (momentaryAt.size(), 3u);
    EXPECT_EQ (momentaryAt[0], 19200);
    EXPECT_EQ (momentaryAt[1], 19200 + 4800);
    EXPECT_EQ (momentaryAt[2], 19200 + 2 * 4800);

    ASSERT_GE (shortTermAt.size(), 3u);
    EXPECT_EQ (shortTermAt[0], 144000);
    // Hops of 28799 samples: the next window is whole at the first block end
    // at or after 144000 + 28799.
    EXPECT_EQ (shortTermAt[1], 172800);
    EXPECT_EQ (shortTermAt[2], 201600);

    // Finer: with single-sample blocks the grid shows exactly.
    TarnLoudnessModule fine;
    fine.prepare (rate, 1);
    SineFeeder fineFeeder (fine, { 0 }, 0.25f);
    std::vector<juce::int64> fineShortTermAt;

    while (fineFeeder.sampleIndex < 144000 + 2 * 28799 + 10)
    {
        fineFeeder.feed (1);

        if (fineFeeder.sampleIndex >= 144000 - 2)
        {
            fine.updateLoudness();

            if (fine.newShortTermAvailable.load())
                fineShortTermAt.push_back (fineFeeder.sampleIndex);
        }
    }

    ASSERT_EQ (fineShortTermAt.size(), 3u);
    EXPECT_EQ (fineShortTermAt[0], 144000);
    EXPECT_EQ (fineShortTermAt[1], 144000 + 28799);
    EXPECT_EQ (fineShortTermAt[2], 144000 + 2 * 28799);
}

TEST (LoudnessEngine, IntegrationWaitsForTheTransport)
{
    TarnLoudnessModule engine;
    engine.prepare (rate, 2400);
    SineFeeder feeder (engine, { 0, 1 }, 0.1f);

    for (int i = 0; i < 80; ++i)
    {
        feeder.feed (2400);
        engine.updateLoudness();
    }

    // Values follow the audio while stopped, but nothing is integrated.
    EXPECT_GT (engine.latestMomentary.load(), -70.0f);
    EXPECT_GT (engine.latestShortTerm.load(), -70.0f);
    EXPECT_EQ (engine.latestIntegrated.load(), -70.0f);
    EXPECT_EQ (engine.latestRange.load(), -70.0f);
    EXPECT_EQ (engine.latestRangeLow.load(), -70.0f);
    EXPECT_EQ (engine.latestRangeHigh.load(), -70.0f);

    engine.playing = 1;

    for (int i = 0; i < 80; ++i)
    {
        feeder.feed (2400);
        engine.updateLoudness();
    }

    EXPECT_NEAR (engine.latestIntegrated.load(), engine.latestMomentary.load(), 0.05f);
    EXPECT_NEAR (engine.latestRange.load(), 0.0f, 0.05f);

    const auto integrated = engine.latestIntegrated.load();
    engine.playing = 0;
    feeder.amplitude = 0.5f;

    for (int i = 0; i < 40; ++i)
    {
        feeder.feed (2400);
        engine.updateLoudness();
    }

    EXPECT_EQ (engine.latestIntegrated.load(), integrated);
}

TEST (LoudnessEngine, SilenceReadsTheFloorAndCountsInTheFirstBin)
{
    TarnLoudnessModule engine;
    engine.prepare (rate, 4800);
    engine.playing = 1;

    juce::AudioSampleBuffer silence (2, 4800);
    silence.clear();

    for (int i = 0; i < 5; ++i)
    {
        engine.weight (silence);
        engine.push (0, 4800);
        engine.updateLoudness();
    }

    EXPECT_EQ (engine.latestMomentary.load(), -70.0f);
    EXPECT_EQ (engine.latestIntegrated.load(), -70.0f);

    float low = 0.0f, high = 0.0f;
    engine.integratedHistogram.loudnessRange (low, high);
    EXPECT_EQ (low, -70.0f);
    EXPECT_EQ (high, -70.0f);
}

TEST (LoudnessEngine, RunsOnTheLoudnessThreadAndStopsWhenReleased)
{
    using namespace std::chrono;

    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, rate, 4800);
    p.prepareToPlay (rate, 4800);

    juce::AudioSampleBuffer block (2, 4800);
    juce::MidiBuffer midi;

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 4800; ++i)
            block.setSample (c, i, 0.3f * std::sin (0.13f * (float) i));

    // Four blocks make the first whole 400 ms window.
    for (int i = 0; i < 4; ++i)
    {
        auto copy = block;
        p.processBlock (copy, midi);
    }

    const auto start = steady_clock::now();
    while (p.loudnessModule.latestMomentary.load() == -70.0f && steady_clock::now() - start < seconds (2))
        std::this_thread::sleep_for (milliseconds (1));

    EXPECT_GT (p.loudnessModule.latestMomentary.load(), -70.0f);
    EXPECT_LT (steady_clock::now() - start, milliseconds (500));   // one 50 ms slice, with slack for slow machines

    p.releaseResources();
    const auto stopped = p.loudnessModule.latestMomentary.load();

    for (int i = 0; i < 4; ++i)
    {
        auto loud = block;
        loud.applyGain (3.0f);
        p.processBlock (loud, midi);
    }

    std::this_thread::sleep_for (milliseconds (200));
    EXPECT_EQ (p.loudnessModule.latestMomentary.load(), stopped);
}
