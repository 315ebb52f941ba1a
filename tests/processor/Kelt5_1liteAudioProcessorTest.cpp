#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/LoudnessRounding.h"
#include "support/AllocationCounter.h"
#include "support/PlayingHost.h"

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    using Tone = ToneProgramme::Tone;

    /** A stereo processor whose measurement steps the test runs itself, one
        after every 50 ms block, as a loudness thread that keeps up would. */
    struct Paced
    {
        explicit Paced (double sampleRate = 48000.0) : host (p, sampleRate), blockSize ((int) sampleRate / 20)
        {
            p.setPlayConfigDetails (2, 2, sampleRate, blockSize);
            p.prepareToPlay (sampleRate, blockSize);
            p.releaseResources();
        }

        bool play (std::vector<Tone> tones, bool playing = true)
        {
            ToneProgramme programme (std::move (tones), host.sampleRate);
            return host.play (
                programme, 2, blockSize, [this] { step(); }, playing);
        }

        void step()
        {
            p.loudnessModule.updateLoudness();

            if (p.loudnessModule.newMomentaryAvailable.load())
                momentaryValues.push_back (p.loudnessModule.latestMomentary.load());
        }

        MeterReadings::Values readings() const { return p.readings.load(); }

        Kelt5_1liteAudioProcessor p;
        PlayingHost host;
        const int blockSize;
        std::vector<float> momentaryValues;
    };

    auto fields (const MeterReadings::Values& v)
    {
        return std::tuple { v.momentaryLoudness, v.momentaryMeterPosition, v.shortTermLoudness, v.integratedLoudness,
                            v.loudnessRange, v.rangeLowMeterPosition, v.rangeHighMeterPosition, v.shortTermMeterPosition,
                            v.truePeakOverload, v.measuredSamples, v.maxMomentaryLoudness, v.maxShortTermLoudness };
    }
}

//==============================================================================
TEST (Processor, AnswersTheHostAndMapsItsParameters)
{
    Kelt5_1liteAudioProcessor p;
    EXPECT_EQ (p.getName() + p.getInputChannelName (0) + p.getProgramName (0), "Kelt5.1 LE1");
    EXPECT_FALSE (p.acceptsMidi() || p.producesMidi() || p.getTailLengthSeconds() != 0.0 || p.getNumPrograms() != 0);

    // Layouts, their AAX ids and each channel's weight by its type.
    using Set = juce::AudioChannelSet;
    const std::vector<float> surround { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f };
    const std::tuple<Set, int, std::vector<float>> layouts[] {
        { Set::create5point1(), 0, surround }, { Set::create5point0(), 1, { 1.0f, 1.0f, 1.0f, 1.41f, 1.41f } }, { Set::stereo(), 2, { 1.0f, 1.0f } }, { Set::mono(), 3, { 1.0f } }, { Set::discreteChannels (6), -1, surround }, { Set::create6point0Music(), -1, { 1.0f, 1.0f, 1.41f, 1.41f, 1.41f, 1.41f } }, { Set::canonicalChannelSet (3), -1, {} }
    };

    for (const auto& [set, aaxId, weights] : layouts)
    {
        SCOPED_TRACE (set.getDescription());
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (set);
        layout.outputBuses.add (set);
        ASSERT_EQ (p.setBusesLayout (layout), ! weights.empty());

        for (size_t c = 0; c < weights.size(); ++c)
            EXPECT_EQ (p.loudnessModule.getChannelWeight ((int) c), weights[c]) << "channel " << c;

        if (aaxId >= 0)
        {
            EXPECT_EQ (std::pair (p.getAAXPluginIDForMainBusConfig (set, set, false), p.getAAXPluginIDForMainBusConfig (set, set, true)),
                       std::pair (0x6a636161 + aaxId, 0x6a796161 + aaxId));
        }
    }

    EXPECT_GT (p.getAAXPluginIDForMainBusConfig (Set::stereo(), Set::mono(), false), 0x6a636161 + 3);
    EXPECT_EQ (p.getParameterName (0) + "|" + p.getParameterName (1) + "|" + p.getParameterName (2) + "|" + p.getParameterName (3),
               "Host Playstate|Measurement Scale|TruePeak Max Level|");
    EXPECT_EQ (p.getParameterText (0) + p.getParameterText (1) + p.getParameterText (2), "0.001.001.00");

    // Host values are stored unchecked; texts show the normalised value with
    // two decimals, halves away from zero.
    for (auto [index, value, stored, readBack, text] : std::initializer_list<std::tuple<int, float, float, float, const char*>> {
             { 1, 0.1f, 9.9f, 0.09999996f, "0.10" }, { 1, -1.0f / 9.0f, 8.0f, -1.0f / 9.0f, "-0.11" }, { 2, 6.0f / 11.0f, -6.0f, 6.0f / 11.0f, "0.55" }, { 2, -1.0f, -23.0f, -1.0f, "-1.00" }, { 0, 0.625f, 0.625f, 0.625f, "0.63" }, { 0, -0.004f, -0.004f, -0.004f, "-0.00" } })
    {
        p.setParameter (index, value);
        const auto held = index == 0 ? p.hostPlaying.load() : index == 1 ? p.measurementScale.load()
                                                                         : p.truePeakMaxLevel.load();
        EXPECT_EQ (std::tuple (held, p.getParameter (index), p.getParameterText (index)), std::tuple (stored, readBack, juce::String (text))) << index << " at " << value;
    }

    p.setParameter (3, 0.7f);
    p.setParameter (-1, 0.7f);
    EXPECT_EQ (p.getParameter (3) + p.getParameter (-1), 0.0f);
}

//==============================================================================
TEST (ProcessorBlocks, ABlockPlaysOnlyWhenTheHostPlaysAndHasMovedOn)
{
    Paced rig;
    auto& head = rig.host.playHead;
    juce::AudioBuffer<float> block (2, 480);
    block.clear();

    // move: how far the position moves on before the block; -1 repeats the last record.
    for (auto [playing, move, havePlayHead, hostPlaying, measured] : std::initializer_list<std::tuple<bool, int, bool, float, double>> {
             { true, 0, true, 1.0f, 480.0 }, { true, -1, true, 0.0f, 480.0 }, { true, 480, true, 1.0f, 960.0 }, { false, 480, true, 0.0f, 960.0 }, { true, 480, false, 0.0f, 960.0 } })
    {
        const auto last = head.position.getTimeInSamples().orFallback (0);
        head.set (playing, move < 0 ? last : last + move);
        head.available = havePlayHead;
        juce::MidiBuffer midi;
        rig.p.processBlock (block, midi);
        EXPECT_EQ (std::tuple (rig.p.hostPlaying.load(), rig.p.readings.measuredSamples.load(), rig.p.lastPositionInfo.isPlaying),
                   std::tuple (hostPlaying, measured, playing && havePlayHead));
    }

    // Before a window is whole, every reading but the play time is as on a fresh instance.
    auto r = rig.readings();
    r.measuredSamples = 0.0;
    EXPECT_EQ (fields (r), fields (Kelt5_1liteAudioProcessor().readings.load()));

    // A block without samples changes nothing, not even a value a host wrote.
    rig.p.hostPlaying = 0.25f;
    juce::AudioBuffer<float> empty (2, 0);
    rig.host.play (empty, true);
    EXPECT_EQ (rig.p.hostPlaying.load(), 0.25f);
}

TEST (ProcessorBlocks, EveryTakeAndEveryResetStartsTheMeasurementAfresh)
{
    // A loud low tone before: neither its samples nor the filters' memory of it
    // may reach what follows a start of the transport or a reset.
    const std::vector<Tone> take { { -200.0, 1000.0, 0.6 }, { -20.0, 1000.0, 2.0 }, { -32.0, 60.0, 3.5 } };
    Paced fresh;
    ASSERT_TRUE (fresh.play (take));
    fresh.host.stop();

    for (bool reset : { false, true }) // stopped before, or playing on into a reset
    {
        Paced rig;
        ASSERT_TRUE (rig.play ({ { -6.0, 40.0, 1.37 } }, reset));
        rig.p.readings.truePeakOverload = 1;

        if (reset)
            rig.p.resetMeasurement();
        else
            rig.host.stop();

        rig.momentaryValues.clear();
        ASSERT_TRUE (rig.play (take));
        rig.host.stop();
        EXPECT_EQ (rig.momentaryValues, fresh.momentaryValues);
        auto r = rig.readings();

        if (! reset) // stopped, the meters ran without integrating; only a reset clears the latch and highest value
            std::tie (r.truePeakOverload, r.maxMomentaryLoudness) = std::tuple (0, fresh.readings().maxMomentaryLoudness);

        EXPECT_EQ (fields (r), fields (fresh.readings())) << reset;
    }

    fresh.p.resetMeasurement();
    EXPECT_EQ (fields (fresh.readings()), fields (Kelt5_1liteAudioProcessor().readings.load()));
}

TEST (ProcessorBlocks, ReadingsFollowTheMeasurementOnTheChosenScale)
{
    Paced rig;
    auto& p = rig.p;
    auto& engine = p.loudnessModule;

    // Bad samples first: they spoil only the windows that hold them (and
    // latch the overload), and pass through bit for bit.
    juce::AudioBuffer<float> bad (2, 2400);
    bad.clear();
    bad.setSample (1, 1234, std::numeric_limits<float>::quiet_NaN());
    bad.setSample (0, 2000, -std::numeric_limits<float>::infinity());
    EXPECT_TRUE (rig.host.play (bad));
    rig.step();

    for (auto [level, scale] : std::initializer_list<std::pair<double, float>> { { -20.0, 1.0f }, { -45.0, 0.0f } })
    {
        p.setParameter (1, scale);
        ToneProgramme programme ({ { level, 1000.0, 4.0 } });

        rig.host.play (programme, 2, 2400, [&] { rig.step(); });
    }

    rig.host.stop();
    const auto r = rig.readings();
    EXPECT_NEAR (r.maxMomentaryLoudness, -20.0f, 0.11f);
    EXPECT_NEAR (r.maxShortTermLoudness, -20.0f, 0.11f);
    EXPECT_NEAR (r.momentaryLoudness, -45.0f, 0.11f);
    EXPECT_NEAR (r.integratedLoudness, -20.2f, 0.01f); // the windows across the step count too
    EXPECT_EQ (r.truePeakOverload, 1);
    EXPECT_EQ (std::pair (r.momentaryMeterPosition, r.shortTermMeterPosition), std::pair (p.loudnessToMeterPosition (r.momentaryLoudness), p.loudnessToMeterPosition (r.shortTermLoudness)));
    EXPECT_EQ (r.integratedLoudness, round1 (engine.latestIntegrated.load()));
    EXPECT_EQ (r.loudnessRange, round1 (engine.latestRange.load()));
    EXPECT_EQ (r.rangeLowMeterPosition, p.loudnessToMeterPosition (engine.latestRangeLow.load()));
    EXPECT_EQ (r.rangeHighMeterPosition, p.loudnessToMeterPosition (engine.latestRangeHigh.load()));

    // +18 only when the scale rounds to 18: ends, middle and floor of both scales.
    for (auto [scale, loudness, position] : std::initializer_list<std::tuple<float, float, float>> {
             { 18.0f, -59.0f, 0.0f }, { 17.5f, -23.0f, 0.5515591f }, { 18.49f, -70.0f, -0.1072559f }, { 9.0f, -14.0f, 1.0f }, { 18.6f, -70.0f, -0.3831652f }, { 0.0f, 0.0f, 2.075013f } })
    {
        p.measurementScale = scale;
        EXPECT_NEAR (p.loudnessToMeterPosition (loudness), position, 5.0e-7f * std::max (1.0f, std::abs (position))) << loudness << " on " << scale;
    }
}

TEST (ProcessorBlocks, TheTruePeakIndicatorLatchesAboveTheRoundedLimitUntilAReset)
{
    // At 192 kHz the true peak is the sample peak, so levels are exact.
    for (auto [level, limit, channel, latched] : std::initializer_list<std::tuple<float, float, int, int>> {
             { -0.96f, -1.0f, 1, 0 }, { -0.94f, -1.0f, 1, 1 }, { -5.9f, -6.0f, 5, 1 }, { 0.0f, -1.0f, 6, 0 } })
    {
        Paced rig (192000.0);
        rig.p.truePeakMaxLevel = limit;
        juce::AudioBuffer<float> block (8, 64);
        block.clear();
        block.setSample (channel, 10, -std::pow (10.0f, level / 20.0f));
        rig.host.play (block);
        block.clear();
        rig.host.play (block);
        EXPECT_EQ (rig.p.readings.truePeakOverload.load(), latched) << level << " against " << limit;
        rig.p.resetMeasurement();
        EXPECT_EQ (rig.p.readings.truePeakOverload.load(), 0);
    }
}

TEST (ProcessorBlocks, PreparingAgainKeepsTheMeasurementButRatesOutOfRangeMeasureNothing)
{
    // A rate that cannot be measured (or is no rate) measures nothing, until a measurable one comes.
    for (double rate : { 5.0, -48000.0, (double) std::numeric_limits<float>::quiet_NaN() })
    {
        Paced rig;
        ASSERT_TRUE (rig.play ({ { -23.0, 1000.0, 5.0 } }));
        const auto before = rig.readings();
        rig.p.prepareToPlay (rate, 0);
        rig.p.releaseResources();
        rig.momentaryValues.clear();
        ASSERT_TRUE (rig.play ({ { -6.0, 1000.0, 4.0 } }));
        EXPECT_TRUE (rig.momentaryValues.empty());
        EXPECT_EQ (std::tuple (rig.readings().integratedLoudness, rig.readings().maxMomentaryLoudness, rig.readings().measuredSamples),
                   std::tuple (before.integratedLoudness, before.maxMomentaryLoudness, before.measuredSamples + 4.0 * 48000.0))
            << rate;

        rig.p.prepareToPlay (48000.0, 2400);
        rig.p.releaseResources();
        ASSERT_TRUE (rig.play ({ { -23.0, 1000.0, 3.0 } }));
        EXPECT_EQ (rig.momentaryValues.size(), 27u);
    }
}

TEST (ProcessorBlocks, ASteadyHostAllocatesNothingOnTheAudioThread)
{
    for (double sampleRate : { 44100.0, 192000.0 })
    {
        Kelt5_1liteAudioProcessor p;
        p.prepareToPlay (sampleRate, 256); // the loudness thread keeps running
        PlayingHost host (p, sampleRate);
        juce::AudioBuffer<float> buffer (6, 512);
        juce::Random random (1);

        const auto block = [&] (int length, bool playing) {
            juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), 6, length);
            TestAudio::fillWithNoise (view, random);
            host.play (view, playing);
        };

        block (512, true); // longer than announced: may grow buffers
        // Shorter blocks, play-state changes and offline blocks allocate nothing.
        const ScopedAllocationCounter counter;

        for (int i = 0; i < 300; ++i)
        {
            p.setNonRealtime (i >= 200);
            block (i % 7 == 0 ? 100 : 512, i % 50 != 10);
        }

        EXPECT_EQ (counter.getCount(), 0u) << sampleRate;
        p.releaseResources();
    }
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
