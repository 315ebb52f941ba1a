#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/LoudnessRounding.h"
#include "support/AllocationCounter.h"
#include "support/PlayingHost.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    constexpr double rate = 48000.0;
    constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
    constexpr float infinity = std::numeric_limits<float>::infinity();

    using Tone = ToneProgramme::Tone;

    /** A stereo processor whose measurement steps the test runs itself, one
        after every block, as a loudness thread that keeps up would. */
    struct Paced
    {
        explicit Paced (double sampleRate = rate, int channels = 2, int blockSize = 2400)
            : host (p, sampleRate), numChannels (channels), blockLength (blockSize)
        {
            p.setPlayConfigDetails (channels, channels, sampleRate, blockSize);
            p.prepareToPlay (sampleRate, blockSize);
            p.releaseResources();
        }

        /** Plays the tones, playing or stopped; collects each new momentary value. */
        bool play (std::vector<Tone> tones, bool playing = true)
        {
            ToneProgramme programme (std::move (tones), host.sampleRate);
            juce::AudioBuffer<float> block (numChannels, blockLength);
            bool unchanged = true;

            for (int n; (n = programme.fill (block)) > 0;)
            {
                juce::AudioBuffer<float> part (block.getArrayOfWritePointers(), numChannels, n);
                unchanged = host.play (part, playing) && unchanged;
                step();
            }

            return unchanged;
        }

        void step()
        {
            p.loudnessModule.updateLoudness();

            if (p.loudnessModule.newMomentaryAvailable.load())
                momentaryValues.push_back (p.loudnessModule.latestMomentary.load());
        }

        MeterReadings::Values readings() { return p.readings.load(); }

        Kelt5_1liteAudioProcessor p;
        PlayingHost host;
        const int numChannels, blockLength;
        std::vector<float> momentaryValues;
    };

    auto fields (const MeterReadings::Values& v)
    {
        return std::tuple { v.momentaryLoudness, v.momentaryMeterPosition, v.shortTermLoudness, v.integratedLoudness,
                            v.loudnessRange, v.rangeLowMeterPosition, v.rangeHighMeterPosition, v.shortTermMeterPosition,
                            v.truePeakOverload, v.measuredSamples, v.maxMomentaryLoudness, v.maxShortTermLoudness };
    }

    void expectSameReadings (const MeterReadings::Values& a, const MeterReadings::Values& b)
    {
        EXPECT_EQ (fields (a), fields (b));
    }
}

//==============================================================================
TEST (Processor, AnswersTheHostsQuestions)
{
    Kelt5_1liteAudioProcessor p;

    EXPECT_EQ (p.getName(), "Kelt5.1 LE");
    EXPECT_EQ (p.getInputChannelName (0) + p.getOutputChannelName (5), "16");
    EXPECT_TRUE (p.isInputChannelStereoPair (3) && p.isOutputChannelStereoPair (0));
    EXPECT_TRUE (p.silenceInProducesSilenceOut() && p.hasEditor());
    EXPECT_FALSE (p.acceptsMidi() || p.producesMidi());
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_EQ (p.getNumPrograms() + p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getProgramName (0), "");

    const auto layout = [] (int in, int out)
    {
        juce::AudioProcessor::BusesLayout l;
        l.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (in));
        l.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (out));
        return l;
    };

    for (auto [in, out, supported] : std::initializer_list<std::tuple<int, int, bool>> {
             { 1, 1, true }, { 2, 2, true }, { 5, 5, true }, { 6, 6, true },
             { 3, 3, false }, { 8, 8, false }, { 2, 6, false }, { 1, 2, false } })
        EXPECT_EQ (p.checkBusesLayoutSupported (layout (in, out)), supported) << in << " in, " << out << " out";
}

TEST (Processor, ParametersMapTheirNormalisedValuesAndShowThemWithTwoDecimals)
{
    Kelt5_1liteAudioProcessor p;

    EXPECT_EQ (p.getNumParameters(), 3);
    EXPECT_EQ (p.getParameterName (0) + "|" + p.getParameterName (1) + "|" + p.getParameterName (2) + "|" + p.getParameterName (3),
               "Host Playstate|Measurement Scale|TruePeak Max Level|");
    EXPECT_EQ (p.getParameterText (0) + p.getParameterText (1) + p.getParameterText (2), "0.001.001.00");
    EXPECT_EQ (p.measurementScale.load(), 18.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -1.0f);

    struct Case { int index; float value; float stored; float readBack; const char* text; };

    for (auto c : { Case { 1, 0.0f, 9.0f, 0.0f, "0.00" },           Case { 1, 0.5f, 13.5f, 0.5f, "0.50" },
                    Case { 1, 0.1f, 9.9f, 0.09999996f, "0.10" },     Case { 1, 2.0f, 27.0f, 2.0f, "2.00" },
                    Case { 1, -1.0f / 9.0f, 8.0f, -1.0f / 9.0f, "-0.11" },
                    Case { 2, 0.0f, -12.0f, 0.0f, "0.00" },          Case { 2, 6.0f / 11.0f, -6.0f, 6.0f / 11.0f, "0.55" },
                    Case { 2, 1.0f, -1.0f, 1.0f, "1.00" },           Case { 2, -1.0f, -23.0f, -1.0f, "-1.00" },
                    Case { 0, 0.125f, 0.125f, 0.125f, "0.13" },      Case { 0, 0.625f, 0.625f, 0.625f, "0.63" },
                    Case { 0, 0.005f, 0.005f, 0.005f, "0.00" },      Case { 0, -0.004f, -0.004f, -0.004f, "-0.00" },
                    Case { 0, 123.456f, 123.456f, 123.456f, "123.46" } })
    {
        p.setParameter (c.index, c.value);
        const auto stored = c.index == 0 ? p.hostPlaying.load() : c.index == 1 ? p.measurementScale.load()
                                                                                : p.truePeakMaxLevel.load();
        EXPECT_FLOAT_EQ (stored, c.stored) << c.index << " at " << c.value;
        EXPECT_FLOAT_EQ (p.getParameter (c.index), c.readBack) << c.index << " at " << c.value;
        EXPECT_EQ (p.getParameterText (c.index), c.text) << c.index << " at " << c.value;
    }

    p.setParameter (3, 0.7f);
    p.setParameter (-1, 0.7f);
    EXPECT_EQ (p.getParameter (3) + p.getParameter (-1), 0.0f);
    EXPECT_EQ (p.getParameterText (5), "0.00");
}

//==============================================================================
TEST (ProcessorBlocks, PassAudioThroughUnchangedAtAnyChannelCountLengthAndMode)
{
    juce::Random random (42);

    for (int channels : { 1, 2, 5, 6, 8 })
    {
        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (juce::jmin (6, channels), juce::jmin (6, channels), rate, 512);
        p.prepareToPlay (rate, 512);
        PlayingHost host (p);

        for (bool offline : { false, true })
        {
            p.setNonRealtime (offline);

            for (int length : { 512, 1, 0, 700, 20000 })
            {
                juce::AudioBuffer<float> buffer (channels, length);
                TestAudio::fillWithNoise (buffer, random);
                EXPECT_TRUE (host.play (buffer)) << channels << " channels, " << length << " samples";
            }
        }
    }
}

TEST (ProcessorBlocks, ABlockPlaysOnlyWhenTheHostPlaysAndHasMovedOn)
{
    Paced rig;
    auto& p = rig.p;
    juce::AudioBuffer<float> block (2, 480);
    block.clear();

    struct Step { bool playing; int move; bool havePlayHead; float hostPlaying; double measured; };

    // move: samples the position moves on before the block; -1 repeats the last record.
    for (auto s : { Step { true, 0, true, 1.0f, 480.0 },   Step { true, 480, true, 1.0f, 960.0 },
                    Step { true, -1, true, 0.0f, 960.0 },  Step { true, 480, true, 1.0f, 1440.0 },
                    Step { false, 480, true, 0.0f, 1440.0 }, Step { true, 480, false, 0.0f, 1440.0 },
                    Step { true, 480, true, 1.0f, 1920.0 } })
    {
        rig.host.playHead.set (s.playing, s.move < 0 ? rig.host.playHead.position.getTimeInSamples().orFallback (0)
                                                    : rig.host.playHead.position.getTimeInSamples().orFallback (0) + s.move);
        rig.host.playHead.available = s.havePlayHead;
        juce::MidiBuffer midi;
        p.processBlock (block, midi);

        EXPECT_EQ (p.hostPlaying.load(), s.hostPlaying);
        EXPECT_EQ (p.readings.measuredSamples.load(), s.measured);
        EXPECT_EQ (p.lastPositionInfo.isPlaying, s.playing && s.havePlayHead);
    }

    // A block without samples changes nothing, not even a host's value.
    p.hostPlaying = 0.25f;
    juce::AudioBuffer<float> empty (2, 0);
    EXPECT_TRUE (rig.host.play (empty, false));
    EXPECT_EQ (p.hostPlaying.load(), 0.25f);
    EXPECT_TRUE (p.lastPositionInfo.isPlaying);
}

TEST (ProcessorBlocks, EveryTakeIsMeasuredAsOnAFreshInstance)
{
    // A loud stretch before the take, stopped or played: neither its samples
    // nor the filters' memory of it may reach the take.
    const std::vector<Tone> take { { -200.0, 1000.0, 0.6 }, { -20.0, 1000.0, 2.0 }, { -32.0, 60.0, 3.5 } };

    Paced fresh;
    ASSERT_TRUE (fresh.play (take));
    fresh.host.stop();

    for (bool playedBefore : { false, true })
    {
        Paced again;
        ASSERT_TRUE (again.play ({ { 0.0, 40.0, 1.37 } }, playedBefore));
        again.host.stop();
        again.momentaryValues.clear();

        ASSERT_TRUE (again.play (take));
        again.host.stop();

        EXPECT_EQ (again.momentaryValues, fresh.momentaryValues) << (playedBefore ? "after a take" : "after a stop");
        EXPECT_EQ (again.p.loudnessModule.latestShortTerm.load(), fresh.p.loudnessModule.latestShortTerm.load());

        // Integration runs over every take, but a stopped stretch adds nothing.
        if (! playedBefore)
        {
            EXPECT_EQ (again.readings().integratedLoudness, fresh.readings().integratedLoudness);
            EXPECT_EQ (again.readings().loudnessRange, fresh.readings().loudnessRange);
            EXPECT_EQ (again.readings().measuredSamples, fresh.readings().measuredSamples);
        }
    }
}

TEST (ProcessorBlocks, ReadingsFollowTheMeasurementOnTheChosenScale)
{
    Paced rig;
    auto& p = rig.p;
    float highestMomentary = -70.0f, highestShortTerm = -70.0f;

    for (auto [level, scale] : std::initializer_list<std::pair<double, float>> { { -26.0, 1.0f }, { -20.0, 1.0f },
                                                                                  { -26.0, 0.0f }, { -45.0, 0.0f } })
    {
        p.setParameter (1, scale);
        ToneProgramme programme ({ { level, 1000.0, 4.0 } });

        rig.host.play (programme, 2, 2400, [&]
        {
            // Positions are published with their values, on the scale then in force.
            const auto r = rig.readings();
            auto& engine = p.loudnessModule;

            if (engine.newMomentaryAvailable.load())
            {
                EXPECT_EQ (r.momentaryMeterPosition, p.loudnessToMeterPosition (r.momentaryLoudness));
            }

            if (engine.newShortTermAvailable.load())
            {
                EXPECT_EQ (r.shortTermMeterPosition, p.loudnessToMeterPosition (r.shortTermLoudness));
            }

            highestMomentary = std::max (highestMomentary, r.momentaryLoudness);
            highestShortTerm = std::max (highestShortTerm, r.shortTermLoudness);

            EXPECT_EQ (r.maxMomentaryLoudness, highestMomentary);
            EXPECT_EQ (r.maxShortTermLoudness, highestShortTerm);
            rig.step();
        });
    }

    rig.host.stop();
    auto& engine = p.loudnessModule;
    const auto r = rig.readings();
    EXPECT_NEAR (r.maxMomentaryLoudness, -20.0f, 0.11f);
    EXPECT_NEAR (r.momentaryLoudness, -45.0f, 0.11f);
    EXPECT_EQ (r.integratedLoudness, round1 (engine.latestIntegrated.load()));
    EXPECT_EQ (r.loudnessRange, round1 (engine.latestRange.load()));
    EXPECT_EQ (r.rangeLowMeterPosition, p.loudnessToMeterPosition (engine.latestRangeLow.load()));
    EXPECT_EQ (r.rangeHighMeterPosition, p.loudnessToMeterPosition (engine.latestRangeHigh.load()));
    EXPECT_EQ (r.measuredSamples, 16.0 * rate);
}

TEST (ProcessorBlocks, MeterPositionsUseThePlus18ScaleOnlyWhenTheScaleRoundsTo18)
{
    Kelt5_1liteAudioProcessor p;

    // Published values of both scales: ends, the middle and the floor.
    struct Case { float scale, loudness, position; };

    for (auto c : { Case { 18.0f, -59.0f, 0.0f }, Case { 18.0f, -5.0f, 1.0f }, Case { 17.5f, -23.0f, 0.5515591f },
                    Case { 18.49f, -70.0f, -0.1072559f }, Case { 18.0f, 0.0f, 1.153475f },
                    Case { 9.0f, -41.0f, 0.0f }, Case { 9.0f, -14.0f, 1.0f }, Case { 17.4f, -23.0f, 0.5515591f },
                    Case { 18.6f, -70.0f, -0.3831652f }, Case { 0.0f, 0.0f, 2.075013f } })
    {
        p.measurementScale = c.scale;
        EXPECT_NEAR (p.loudnessToMeterPosition (c.loudness), c.position, 5.0e-7f * std::max (1.0f, std::abs (c.position)))
            << c.loudness << " on scale " << c.scale;
    }

    p.measurementScale = 17.5f;
    const auto plus18 = p.loudnessToMeterPosition (-30.0f);
    p.measurementScale = 17.49f;
    EXPECT_NE (p.loudnessToMeterPosition (-30.0f), plus18);
}

TEST (ProcessorBlocks, TheTruePeakIndicatorLatchesAboveTheRoundedLimit)
{
    // At 192 kHz the true peak is the sample peak, so levels are exact.
    struct Case { float level, limit; int channel; int latched; };

    for (auto c : { Case { -0.96f, -1.0f, 1, 0 }, Case { -0.94f, -1.0f, 1, 1 }, Case { -6.0f, -6.0f, 5, 0 },
                    Case { -5.9f, -6.0f, 0, 1 }, Case { 0.0f, -1.0f, 6, 0 }, Case { -200.0f, -12.0f, 0, 0 } })
    {
        Paced rig (192000.0, 8, 64);
        rig.p.truePeakMaxLevel = c.limit;
        juce::AudioBuffer<float> block (8, 64);
        block.clear();
        block.setSample (c.channel, 10, -std::pow (10.0f, c.level / 20.0f));
        rig.host.play (block);
        EXPECT_EQ (rig.p.readings.truePeakOverload.load(), c.latched) << c.level << " against " << c.limit;

        // It stays latched through quieter audio until the measurement starts again.
        block.clear();
        rig.host.play (block);
        EXPECT_EQ (rig.p.readings.truePeakOverload.load(), c.latched);
        rig.p.resetMeasurement();
        EXPECT_EQ (rig.p.readings.truePeakOverload.load(), 0);
    }
}

TEST (ProcessorBlocks, ABadSampleSpoilsOnlyTheWindowsThatHoldIt)
{
    for (float bad : { notANumber, infinity, -infinity })
    {
        for (bool wholeBlock : { false, true })
        {
            SCOPED_TRACE (juce::String (bad) + (wholeBlock ? " in every sample of a block" : " once"));

            Paced rig;
            ASSERT_TRUE (rig.play ({ { -20.0, 1000.0, 4.0 } }));
            const auto before = rig.readings();

            juce::AudioBuffer<float> block (2, 2400);
            ToneProgramme ({ { -20.0, 1000.0, 0.05 } }).fill (block);

            for (int c = 0; c < 2; ++c)
                for (int i = wholeBlock ? 0 : 1234; i < (wholeBlock ? 2400 : 1235); ++i)
                    block.setSample (c, i, bad);

            EXPECT_TRUE (rig.host.play (block));   // bit for bit, NaN included
            rig.step();
            EXPECT_EQ (rig.p.readings.truePeakOverload.load(), std::isinf (bad) ? 1 : 0);

            // Once the window has passed, everything reads as before, with no
            // change of play state or reset to help.
            ASSERT_TRUE (rig.play ({ { -20.0, 1000.0, 3.5 } }));
            rig.host.stop();
            const auto after = rig.readings();
            EXPECT_EQ (after.momentaryLoudness, before.momentaryLoudness);
            EXPECT_EQ (after.shortTermLoudness, before.shortTermLoudness);
            EXPECT_EQ (after.integratedLoudness, before.integratedLoudness);
            EXPECT_EQ (after.maxMomentaryLoudness, before.maxMomentaryLoudness);
            EXPECT_FALSE (std::isnan (after.loudnessRange));
        }
    }
}

TEST (ProcessorBlocks, ResetMeasurementStartsAfreshWithoutAStop)
{
    Paced rig;
    ASSERT_TRUE (rig.play ({ { -10.0, 1000.0, 4.0 } }));
    rig.p.readings.truePeakOverload = 1;
    rig.p.resetMeasurement();

    Kelt5_1liteAudioProcessor fresh;
    expectSameReadings (rig.readings(), fresh.readings.load());

    // The quiet audio after the reset is measured alone: nothing of the loud
    // windows or the filters' memory of them comes back.
    rig.momentaryValues.clear();
    ASSERT_TRUE (rig.play ({ { -40.0, 1000.0, 3.5 } }));
    rig.host.stop();

    ASSERT_EQ (rig.momentaryValues.size(), 32u);   // the first after 400 ms, then every 100 ms
    EXPECT_EQ (*std::max_element (rig.momentaryValues.begin(), rig.momentaryValues.end()), -40.0f);
    EXPECT_EQ (rig.readings().integratedLoudness, -40.0f);
    EXPECT_EQ (rig.readings().maxShortTermLoudness, -40.0f);
    EXPECT_EQ (rig.readings().loudnessRange, 0.0f);
}

TEST (ProcessorBlocks, AHostPreparingAgainAtTheSameRateLosesNothing)
{
    const std::vector<Tone> tones { { -23.0, 1000.0, 2.3 }, { -31.0, 300.0, 1.1 } };
    Paced straight, again;
    ASSERT_TRUE (straight.play (tones));
    ASSERT_TRUE (again.play (tones));

    // Preparing attaches the engine; stopped, the thread cannot take a window.
    again.p.loudnessThread.stopThread (1000);
    again.p.prepareToPlay (rate, 1024);
    again.p.releaseResources();

    ASSERT_TRUE (straight.play (tones));
    ASSERT_TRUE (again.play (tones));
    EXPECT_EQ (again.momentaryValues, straight.momentaryValues);
    expectSameReadings (again.readings(), straight.readings());
}

TEST (ProcessorBlocks, ANewRateRestartsTheWindowsButCarriesTheMeasurementOn)
{
    Paced rig;
    ASSERT_TRUE (rig.play ({ { -23.0, 1000.0, 5.0 } }));

    rig.p.prepareToPlay (96000.0, 4800);
    rig.p.releaseResources();
    EXPECT_EQ (rig.p.loudnessModule.momentaryFifo->getNumReady(), 0);

    PlayingHost host96 (rig.p, 96000.0);
    ToneProgramme quieter ({ { -29.0, 1000.0, 5.0 } }, 96000.0);
    host96.play (quieter, 2, 4800, [&] { rig.step(); });
    host96.stop();

    // As many windows at -23 as at -29, each K-weighted for its own rate.
    EXPECT_NEAR (rig.readings().integratedLoudness, 10.0f * std::log10 ((std::pow (10.0f, -2.3f) + std::pow (10.0f, -2.9f)) / 2.0f), 0.11f);
    EXPECT_EQ (rig.momentaryValues.size(), 2u * 47u);
}

TEST (ProcessorBlocks, AbsurdRatesAndBlockSizesNeitherCrashNorStopTheNextPreparation)
{
    for (double absurd : { 0.0, -48000.0, (double) notANumber, (double) infinity, 1.0e9, 1.0, 9.99 })
    {
        for (int blockSize : { 0, -1, 512 })
        {
            Kelt5_1liteAudioProcessor p;
            p.setPlayConfigDetails (2, 2, rate, 512);
            p.prepareToPlay (absurd, blockSize);
            PlayingHost host (p);
            juce::Random random (1);

            for (bool offline : { false, true })
            {
                p.setNonRealtime (offline);

                for (int length : { 0, 1, 480, 4096 })
                {
                    juce::AudioBuffer<float> buffer (2, length);
                    TestAudio::fillWithNoise (buffer, random);
                    EXPECT_TRUE (host.play (buffer)) << absurd << " Hz, blocks of " << blockSize;
                }
            }

            EXPECT_EQ (p.readings.momentaryLoudness.load(), -70.0f) << absurd;
        }
    }

    Paced rig;
    rig.p.prepareToPlay (notANumber, -1);
    rig.p.prepareToPlay (rate, 2400);
    rig.p.releaseResources();
    ASSERT_TRUE (rig.play ({ { -20.0, 1000.0, 1.0 } }));
    rig.host.stop();
    EXPECT_EQ (rig.readings().momentaryLoudness, -20.0f);
}

TEST (ProcessorBlocks, ASteadyHostAllocatesNothingOnTheAudioThread)
{
    for (double sampleRate : { 44100.0, 48000.0, 96000.0, 192000.0 })
    {
        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (6, 6, sampleRate, 512);
        p.prepareToPlay (sampleRate, 256);   // the loudness thread keeps running
        PlayingHost host (p, sampleRate);
        juce::AudioBuffer<float> buffer (6, 512);
        juce::Random random (1);

        const auto block = [&] (int length, bool playing = true)
        {
            juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), 6, length);
            TestAudio::fillWithNoise (view, random);
            host.play (view, playing);
        };

        {
            // The first block, longer than announced, allocates: the counter is live.
            const ScopedAllocationCounter grown;
            block (512);
            EXPECT_GT (grown.getCount(), 0u);
        }

        const ScopedAllocationCounter counter;

        for (int i = 0; i < 200; ++i)
            block (i % 7 == 0 ? 100 : 512, i % 50 != 10);

        p.setNonRealtime (true);

        for (int i = 0; i < 100; ++i)
            block (512);

        EXPECT_EQ (counter.getCount(), 0u) << sampleRate;
        p.releaseResources();
    }
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
