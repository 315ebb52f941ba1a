#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/AllocationCounter.h"
#include "support/TestPlayHead.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace
{
    constexpr double rate = 48000.0;

    /** A prepared processor whose measurement steps the test runs itself. */
    struct Rig
    {
        explicit Rig (int channels = 2, double sampleRate = rate, int blockSize = 2400)
        {
            p.setPlayConfigDetails (channels, channels, sampleRate, blockSize);
            p.prepareToPlay (sampleRate, blockSize);
            p.releaseResources();   // the engine keeps its data; steps run on demand
            p.setPlayHead (&playHead);
        }

        /** One block of a sine at the given peak level, position advanced. */
        void block (int numSamples, bool playing, float peak = 0.5f, int channels = 2)
        {
            juce::AudioBuffer<float> buffer (channels, numSamples);
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < numSamples; ++i)
                    buffer.setSample (c, i, peak * std::sin (phase + 2.0f * juce::MathConstants<float>::pi * 1000.0f * (float) i / 48000.0f));

            phase += 2.0f * juce::MathConstants<float>::pi * 1000.0f * (float) numSamples / 48000.0f;
            phase = std::fmod (phase, 2.0f * juce::MathConstants<float>::pi);

            playHead.set (playing, position);
            position += numSamples;
            juce::MidiBuffer midi;
            p.processBlock (buffer, midi);
        }

        /** Playing 50 ms blocks, each followed by a measurement step, as the
            loudness thread keeping up would run them. */
        void play (int numBlocks)
        {
            for (int i = 0; i < numBlocks; ++i)
            {
                block (2400, true);
                p.loudnessModule.updateLoudness();
            }
        }

        int momentaryReady() { return p.loudnessModule.momentaryFifo->getNumReady(); }

        Kelt5_1liteAudioProcessor p;
        TestPlayHead playHead;
        juce::int64 position = 0;
        float phase = 0.0f;
    };
}

//==============================================================================
TEST (BlockPath, AnAdvancingPlayingHostPlaysEveryBlock)
{
    Rig rig;

    for (int n : { 2400, 100, 1, 4000 })
        rig.block (n, true);

    EXPECT_EQ (rig.p.readings.measuredSamples.load(), 6501.0);
    EXPECT_EQ (rig.p.hostPlaying.load(), 1.0f);
    EXPECT_EQ (rig.p.loudnessModule.playing.load(), 1);
    EXPECT_EQ (rig.momentaryReady(), 6501);
}

TEST (BlockPath, ARepeatedPositionCountsAsStoppedAndStartsANewTake)
{
    Rig rig;
    rig.block (2400, true);
    rig.block (2400, true);
    ASSERT_EQ (rig.momentaryReady(), 4800);

    // Same position again while the host still says it plays.
    rig.position -= 2400;
    rig.block (2400, true);   // the same record as the previous block
    EXPECT_EQ (rig.p.hostPlaying.load(), 0.0f);
    EXPECT_EQ (rig.p.readings.measuredSamples.load(), 4800.0);
    EXPECT_EQ (rig.momentaryReady(), 2400);   // emptied, then this block written

    rig.block (2400, true);   // moving again: another change
    EXPECT_EQ (rig.p.hostPlaying.load(), 1.0f);
    EXPECT_EQ (rig.momentaryReady(), 2400);
    EXPECT_EQ (rig.p.readings.measuredSamples.load(), 7200.0);
}

TEST (BlockPath, MovingStoppedHostsAndSecondsOnlyChangesDoNotPlay)
{
    Rig rig;

    rig.block (480, false);
    rig.block (480, false);
    EXPECT_EQ (rig.p.hostPlaying.load(), 0.0f);
    EXPECT_EQ (rig.p.readings.measuredSamples.load(), 0.0);

    // A record that differs only in its time in seconds has not moved.
    rig.block (480, true);
    juce::MidiBuffer midi;
    juce::AudioBuffer<float> buffer (2, 480);
    buffer.clear();
    auto position = rig.playHead.position;
    position.setTimeInSeconds (*position.getTimeInSeconds() + 1.0);
    rig.playHead.position = position;
    rig.p.processBlock (buffer, midi);
    EXPECT_EQ (rig.p.hostPlaying.load(), 0.0f);
    EXPECT_EQ (rig.p.readings.measuredSamples.load(), 480.0);
}

TEST (BlockPath, NoPlayHeadMeansTheDefaultPositionAndNotPlaying)
{
    Rig rig;
    rig.block (480, true);
    ASSERT_EQ (rig.p.hostPlaying.load(), 1.0f);

    rig.playHead.available = false;
    juce::AudioBuffer<float> buffer (2, 480);
    buffer.clear();
    juce::MidiBuffer midi;
    rig.p.processBlock (buffer, midi);

    EXPECT_EQ (rig.p.hostPlaying.load(), 0.0f);
    EXPECT_EQ (rig.p.lastPositionInfo.bpm, 120.0);
    EXPECT_EQ (rig.p.lastPositionInfo.timeSigNumerator, 4);
    EXPECT_EQ (rig.p.lastPositionInfo.timeSigDenominator, 4);
    EXPECT_EQ (rig.p.lastPositionInfo.timeInSamples, 0);
    EXPECT_FALSE (rig.p.lastPositionInfo.isPlaying);
    EXPECT_EQ (rig.momentaryReady(), 480);   // emptied by the change, then written

    rig.p.setPlayHead (nullptr);
    rig.p.processBlock (buffer, midi);
    EXPECT_EQ (rig.p.hostPlaying.load(), 0.0f);

    rig.p.setPlayHead (&rig.playHead);
    rig.playHead.available = true;
    rig.block (480, true);
    EXPECT_EQ (rig.p.hostPlaying.load(), 1.0f);
}

TEST (BlockPath, AZeroSampleBlockChangesNothing)
{
    Rig rig;
    rig.block (480, true);
    rig.p.hostPlaying = 0.25f;   // as a host may write it

    juce::AudioBuffer<float> empty (2, 0);
    juce::MidiBuffer midi;
    rig.playHead.set (false, 0);
    rig.p.processBlock (empty, midi);

    EXPECT_EQ (rig.p.hostPlaying.load(), 0.25f);
    EXPECT_EQ (rig.p.loudnessModule.playing.load(), 1);
    EXPECT_EQ (rig.p.readings.measuredSamples.load(), 480.0);
    EXPECT_EQ (rig.momentaryReady(), 480);
    EXPECT_EQ (rig.p.lastPositionInfo.timeInSamples, 0);
    EXPECT_TRUE (rig.p.lastPositionInfo.isPlaying);

    rig.block (480, true);
    EXPECT_EQ (rig.p.hostPlaying.load(), 1.0f);   // a host's value lasts one block
}

//==============================================================================
TEST (BlockPath, PublishesOnlyWhatTheFlagsAnnounce)
{
    Rig rig;
    auto& engine = rig.p.loudnessModule;

    engine.latestMomentary = -23.0f;
    engine.latestIntegrated = -23.04f;
    engine.latestShortTerm = -30.0f;
    engine.newMomentaryAvailable = true;
    rig.block (480, false);

    auto r = rig.p.readings.load();
    EXPECT_EQ (r.momentaryLoudness, -23.0f);
    EXPECT_NEAR (r.momentaryMeterPosition, 0.5515591f, 1.0e-6f);
    EXPECT_EQ (r.maxMomentaryLoudness, -23.0f);
    EXPECT_FLOAT_EQ (r.integratedLoudness, -23.0f);
    EXPECT_EQ (r.shortTermLoudness, -70.0f);        // its flag is clear
    EXPECT_EQ (r.shortTermMeterPosition, 0.0f);
    EXPECT_EQ (r.rangeLowMeterPosition, -70.0f);

    engine.newMomentaryAvailable = false;
    engine.latestMomentary = -10.0f;
    rig.block (480, false);
    EXPECT_EQ (rig.p.readings.momentaryLoudness.load(), -23.0f);

    engine.newShortTermAvailable = true;
    engine.latestRange = 8.46f;
    engine.latestRangeLow = -29.0f;
    engine.latestRangeHigh = -20.5f;
    rig.block (480, false);
    r = rig.p.readings.load();
    EXPECT_EQ (r.shortTermLoudness, -30.0f);
    EXPECT_EQ (r.maxShortTermLoudness, -30.0f);
    EXPECT_FLOAT_EQ (r.loudnessRange, 8.5f);
    EXPECT_EQ (r.shortTermMeterPosition, rig.p.loudnessToMeterPosition (-30.0f));
    EXPECT_EQ (r.rangeLowMeterPosition, rig.p.loudnessToMeterPosition (-29.0f));
    EXPECT_EQ (r.rangeHighMeterPosition, rig.p.loudnessToMeterPosition (-20.5f));
    EXPECT_EQ (r.momentaryLoudness, -23.0f);
}

TEST (BlockPath, MaximaCompareStrictlyAndIgnoreNaN)
{
    Rig rig;
    auto& engine = rig.p.loudnessModule;
    engine.newMomentaryAvailable = true;

    engine.latestMomentary = -20.0f;
    rig.block (64, false);
    engine.latestMomentary = -25.0f;
    rig.block (64, false);
    EXPECT_EQ (rig.p.readings.maxMomentaryLoudness.load(), -20.0f);

    engine.latestMomentary = std::numeric_limits<float>::quiet_NaN();
    rig.block (64, false);
    EXPECT_EQ (rig.p.readings.maxMomentaryLoudness.load(), -20.0f);
    EXPECT_TRUE (std::isnan (rig.p.readings.momentaryLoudness.load()));
}

TEST (BlockPath, PositionsStayOnTheOldScaleUntilTheirNextValue)
{
    Rig rig;
    auto& engine = rig.p.loudnessModule;

    engine.latestMomentary = -30.0f;
    engine.latestShortTerm = -30.0f;
    engine.newMomentaryAvailable = true;
    engine.newShortTermAvailable = true;
    rig.block (64, false);
    const auto on18 = rig.p.readings.momentaryMeterPosition.load();

    engine.newMomentaryAvailable = false;
    engine.newShortTermAvailable = false;
    rig.p.setParameter (1, 0.0f);   // +9
    rig.block (64, false);
    EXPECT_EQ (rig.p.readings.momentaryMeterPosition.load(), on18);
    EXPECT_EQ (rig.p.readings.shortTermMeterPosition.load(), on18);

    engine.newMomentaryAvailable = true;
    rig.block (64, false);
    EXPECT_NE (rig.p.readings.momentaryMeterPosition.load(), on18);
    EXPECT_EQ (rig.p.readings.shortTermMeterPosition.load(), on18);
}

TEST (BlockPath, TheScaleFollowsTheRoundedMeasurementScale)
{
    Kelt5_1liteAudioProcessor p;

    const auto plus18 = p.meterScale18.position (-30.0f);
    const auto plus9 = p.meterScale9.position (-30.0f);
    ASSERT_NE (plus18, plus9);

    for (float scale : { 18.0f, 17.5f, 18.5f })
    {
        p.measurementScale = scale;
        EXPECT_EQ (p.loudnessToMeterPosition (-30.0f), plus18) << scale;
    }

    for (float scale : { 9.0f, 12.0f, 17.4f, 18.6f, 0.0f })
    {
        p.measurementScale = scale;
        EXPECT_EQ (p.loudnessToMeterPosition (-30.0f), plus9) << scale;
    }
}

//==============================================================================
TEST (BlockPath, TruePeakLatchFollowsTheRoundedHighestLevel)
{
    // At 192 kHz the true peak is the sample peak, so levels are easy to set.
    auto latchAt = [] (float level, float limit)
    {
        Rig rig (2, 192000.0, 64);
        rig.p.truePeakMaxLevel = limit;
        juce::AudioBuffer<float> buffer (2, 64);
        buffer.clear();
        buffer.setSample (1, 10, -std::pow (10.0f, level / 20.0f));
        juce::MidiBuffer midi;
        rig.p.processBlock (buffer, midi);
        return rig.p.readings.truePeakOverload.load();
    };

    EXPECT_EQ (latchAt (-0.96f, -1.0f), 0);
    EXPECT_EQ (latchAt (-0.94f, -1.0f), 1);
    EXPECT_EQ (latchAt (-6.0f, -6.0f), 0);
    EXPECT_EQ (latchAt (-5.9f, -6.0f), 1);

    Rig rig;
    rig.p.truePeakMaxLevel = -1.0f;
    juce::AudioBuffer<float> buffer (2, 480);
    buffer.clear();
    juce::MidiBuffer midi;
    rig.p.processBlock (buffer, midi);
    EXPECT_EQ (rig.p.readings.truePeakOverload.load(), 0);   // silence never latches

    buffer.setSample (0, 100, 1.0f);
    rig.p.processBlock (buffer, midi);
    EXPECT_EQ (rig.p.readings.truePeakOverload.load(), 1);

    buffer.clear();
    rig.p.processBlock (buffer, midi);
    EXPECT_EQ (rig.p.readings.truePeakOverload.load(), 1);   // latched

    juce::AudioBuffer<float> empty (2, 0);
    rig.p.readings.truePeakOverload = 0;
    rig.p.processBlock (empty, midi);
    EXPECT_EQ (rig.p.readings.truePeakOverload.load(), 0);
}

//==============================================================================
TEST (BlockPath, ABadSampleSpoilsOnlyItsOwnWindows)
{
    Rig rig;
    auto& engine = rig.p.loudnessModule;

    rig.play (8);

    const auto before = engine.latestMomentary.load();
    ASSERT_TRUE (std::isfinite (before));

    for (float bad : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity() })
    {
        juce::AudioBuffer<float> buffer (2, 2400);
        buffer.clear();
        buffer.setSample (0, 1000, bad);
        rig.playHead.set (true, rig.position);
        rig.position += 2400;
        const auto original = buffer;
        juce::MidiBuffer midi;
        rig.p.processBlock (buffer, midi);
        engine.updateLoudness();

        // The bad sample itself passes through untouched, like all audio.
        EXPECT_EQ (std::memcmp (buffer.getReadPointer (0), original.getReadPointer (0), sizeof (float) * 2400), 0);

        // Once the bad sample has left the 400 ms window, the readings recover
        // without a change of play state.
        rig.play (10);

        EXPECT_EQ (engine.latestMomentary.load(), before);
    }
}

//==============================================================================
TEST (BlockPath, ResetMeasurementStartsAgain)
{
    Rig rig;
    auto& engine = rig.p.loudnessModule;

    rig.play (80);

    rig.p.readings.truePeakOverload = 1;
    ASSERT_GT (rig.p.readings.integratedLoudness.load(), -70.0f);

    rig.p.resetMeasurement();

    const auto r = rig.p.readings.load();
    EXPECT_EQ (r.momentaryLoudness, -70.0f);
    EXPECT_EQ (r.momentaryMeterPosition, 0.0f);
    EXPECT_EQ (r.shortTermLoudness, -70.0f);
    EXPECT_EQ (r.integratedLoudness, -70.0f);
    EXPECT_EQ (r.loudnessRange, -70.0f);
    EXPECT_EQ (r.rangeLowMeterPosition, -70.0f);
    EXPECT_EQ (r.rangeHighMeterPosition, -70.0f);
    EXPECT_EQ (r.shortTermMeterPosition, 0.0f);
    EXPECT_EQ (r.truePeakOverload, 0);
    EXPECT_EQ (r.measuredSamples, 0.0);
    EXPECT_EQ (r.maxMomentaryLoudness, -70.0f);
    EXPECT_EQ (r.maxShortTermLoudness, -70.0f);

    EXPECT_EQ (engine.latestIntegrated.load(), -70.0f);
    EXPECT_EQ (engine.latestRange.load(), -70.0f);
    EXPECT_EQ (engine.integratedHistogram.integratedLoudness(), -70.0f);
    EXPECT_EQ (rig.momentaryReady(), 0);

    // The next momentary value needs 400 ms of new audio.
    for (int i = 0; i < 7; ++i)
    {
        rig.play (1);
        EXPECT_FALSE (engine.newMomentaryAvailable.load()) << i;
    }

    rig.play (1);
    EXPECT_TRUE (engine.newMomentaryAvailable.load());
    EXPECT_EQ (rig.p.readings.measuredSamples.load(), 8.0 * 2400.0);
}

TEST (BlockPath, ResetMeasurementBeforeAnyPreparation)
{
    Kelt5_1liteAudioProcessor p;
    p.readings.maxMomentaryLoudness = -3.0f;
    p.resetMeasurement();
    EXPECT_EQ (p.readings.maxMomentaryLoudness.load(), -70.0f);
}

//==============================================================================
TEST (BlockPath, ASteadyBlockSizeAllocatesNothing)
{
    for (double sampleRate : { 44100.0, 48000.0, 96000.0, 192000.0 })
    {
        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (6, 6, sampleRate, 512);
        p.prepareToPlay (sampleRate, 512);   // the loudness thread keeps running
        TestPlayHead playHead;
        p.setPlayHead (&playHead);

        juce::AudioBuffer<float> buffer (6, 512);
        juce::Random random (1);
        juce::MidiBuffer midi;
        juce::int64 position = 0;

        auto oneBlock = [&] (int numSamples)
        {
            for (int c = 0; c < 6; ++c)
                for (int i = 0; i < numSamples; ++i)
                    buffer.setSample (c, i, random.nextFloat() - 0.5f);

            juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), 6, numSamples);
            playHead.set (true, position, sampleRate);
            position += numSamples;
            p.processBlock (view, midi);
        };

        oneBlock (512);   // the first block sizes what needs sizing

        const ScopedAllocationCounter counter;

        for (int i = 0; i < 200; ++i)
            oneBlock (512);

        // A shorter block and a play-state change allocate nothing either.
        oneBlock (100);
        p.setPlayHead (nullptr);
        oneBlock (512);

        EXPECT_EQ (counter.getCount(), 0u) << sampleRate;
    }
}
