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
    constexpr float infinity = std::numeric_limits<float>::infinity();

    /** A stereo processor played at real-time pace, whose measurement steps
        the test runs itself, one after every 50 ms block, as a loudness
        thread that keeps up would. */
    struct Paced
    {
        explicit Paced (double sampleRate = 48000.0, int channels = 2)
            : host (p, sampleRate), blockSize ((int) sampleRate / 20)
        {
            p.renderPace.clock = PlayingHost::realTimeClock;
            p.setPlayConfigDetails (channels, channels, sampleRate, blockSize);
            p.prepareToPlay (sampleRate, blockSize);
            p.releaseResources();
        }

        /** Plays (or, stopped, runs) the tones; collects every new momentary value. */
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

    EXPECT_EQ (p.getName() + p.getInputChannelName (0) + p.getOutputChannelName (5) + p.getProgramName (0), "Kelt5.1 LE16");
    EXPECT_TRUE (p.isInputChannelStereoPair (3) && p.isOutputChannelStereoPair (0) && p.silenceInProducesSilenceOut() && p.hasEditor());
    EXPECT_FALSE (p.acceptsMidi() || p.producesMidi() || p.getTailLengthSeconds() != 0.0 || p.getNumPrograms() != 0);

    EXPECT_EQ (p.getNumParameters(), 3);
    EXPECT_EQ (p.getParameterName (0) + "|" + p.getParameterName (1) + "|" + p.getParameterName (2) + "|" + p.getParameterName (3),
               "Host Playstate|Measurement Scale|TruePeak Max Level|");
    EXPECT_EQ (p.getParameterText (0) + p.getParameterText (1) + p.getParameterText (2), "0.001.001.00");

    // Host values are stored unchecked; texts show the normalised value with
    // two decimals, halves away from zero.
    for (auto [index, value, stored, readBack, text] : std::initializer_list<std::tuple<int, float, float, float, const char*>> {
             { 1, 0.0f, 9.0f, 0.0f, "0.00" }, { 1, 0.5f, 13.5f, 0.5f, "0.50" }, { 1, 0.1f, 9.9f, 0.09999996f, "0.10" }, { 1, -1.0f / 9.0f, 8.0f, -1.0f / 9.0f, "-0.11" }, { 2, 0.0f, -12.0f, 0.0f, "0.00" }, { 2, 6.0f / 11.0f, -6.0f, 6.0f / 11.0f, "0.55" }, { 2, -1.0f, -23.0f, -1.0f, "-1.00" }, { 0, 0.625f, 0.625f, 0.625f, "0.63" }, { 0, 0.005f, 0.005f, 0.005f, "0.00" }, { 0, -0.004f, -0.004f, -0.004f, "-0.00" }, { 0, 123.456f, 123.456f, 123.456f, "123.46" } })
    {
        p.setParameter (index, value);
        EXPECT_FLOAT_EQ (index == 0 ? p.hostPlaying.load() : index == 1 ? p.measurementScale.load()
                                                                        : p.truePeakMaxLevel.load(),
                         stored)
            << index << " at " << value;
        EXPECT_FLOAT_EQ (p.getParameter (index), readBack) << index << " at " << value;
        EXPECT_EQ (p.getParameterText (index), text) << index << " at " << value;
    }

    // Names and texts fit what each format's hosts make room for.
    for (auto [type, name, text, id] : std::initializer_list<std::tuple<juce::AudioProcessor::WrapperType, const char*, const char*, const char*>> {
             { juce::AudioProcessor::wrapperType_Undefined, "Measurement Scale", "1000000015047466219876688855040.00", "1" },
             { juce::AudioProcessor::wrapperType_VST, "Measurement Sca", "10000000150474662198766", "1" },
             { juce::AudioProcessor::wrapperType_LV2, "Measurement Scale", "1000000015047466219876688855040.00", "measurementScale" } })
    {
        juce::AudioProcessor::setTypeOfNextNewPlugin (type);
        Kelt5_1liteAudioProcessor wrapped;
        juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
        wrapped.setParameter (0, 1.0e30f);
        EXPECT_EQ (wrapped.getParameterName (1, 100) + "|" + wrapped.getParameterText (0, 100) + "|" + wrapped.getParameterID (1),
                   juce::String (name) + "|" + text + "|" + id);
    }

    // AAX ids by the layout itself; any other pair keeps an id clear of the four.
    using Set = juce::AudioChannelSet;

    for (auto [set, n] : std::initializer_list<std::pair<Set, int>> { { Set::create5point1(), 0 }, { Set::create5point0(), 1 }, { Set::stereo(), 2 }, { Set::mono(), 3 } })
    {
        EXPECT_EQ (p.getAAXPluginIDForMainBusConfig (set, set, false), 0x6a636161 + n) << set.getDescription();
        EXPECT_EQ (p.getAAXPluginIDForMainBusConfig (set, set, true), 0x6a796161 + n) << set.getDescription();
    }

    EXPECT_GT (p.getAAXPluginIDForMainBusConfig (Set::stereo(), Set::mono(), false), 0x6a636161 + 3);
    EXPECT_GT (p.getAAXPluginIDForMainBusConfig (Set::createLCR(), Set::createLCR(), false), 0x6a636161 + 3);

    // Mono, stereo, 5.0 and 5.1 in and out alike, and other layouts with
    // those counts: each channel weighs by its type, LFE nothing, surrounds
    // (sides too) 1.41, the rest 1; unnamed channels, and those a host sends
    // beyond the layout, in the order L, R, C, LFE, Ls, Rs. Anything else is
    // refused.
    for (auto [in, out, weights] : std::initializer_list<std::tuple<Set, Set, std::vector<float>>> {
             { Set::mono(), Set::mono(), { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f } },
             { Set::stereo(), Set::stereo(), { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f } },
             { Set::create5point1(), Set::create5point1(), { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f } },
             { Set::create5point0(), Set::create5point0(), { 1.0f, 1.0f, 1.0f, 1.41f, 1.41f, 1.41f } },
             { Set::channelSetWithChannels ({ Set::left, Set::right, Set::centre, Set::LFE, Set::centreSurround }), Set::create5point0(), { 1.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.41f } },
             { Set::create6point0Music(), Set::create6point0Music(), { 1.0f, 1.0f, 1.41f, 1.41f, 1.41f, 1.41f } },
             { Set::channelSetWithChannels ({ Set::left, Set::right, Set::centre, Set::LFE, Set::discreteChannel0 }), Set::create5point0(), { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f } },
             { Set::discreteChannels (6), Set::discreteChannels (6), { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f } },
             { Set::createLCR(), Set::createLCR(), {} },
             { Set::discreteChannels (8), Set::discreteChannels (8), {} },
             { Set::stereo(), Set::create5point1(), {} } })
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (in);
        layout.outputBuses.add (out);
        ASSERT_EQ (p.setBusesLayout (layout), ! weights.empty()) << in.getDescription() << " to " << out.getDescription();

        for (size_t c = 0; c < weights.size(); ++c)
            EXPECT_EQ (p.loudnessModule.getChannelWeight ((int) c), weights[c]) << in.getDescription() << " channel " << c;
    }
}

TEST (Processor, StartsOnTheWidestConfigurationWhereTheWrapperDoesNotChooseAndNamesItsAudioUnitEntries)
{
    // The Audio Unit, AAX, VST 2 and LV2 wrappers take this order, and the
    // Audio Unit starts on the processor's own first layout; the VST3 and
    // the Standalone app put stereo first in their own builds (checked
    // through the built VST3).
    const short configurations[][2] { JucePlugin_PreferredChannelConfigurations };
    juce::String order;

    for (auto& c : configurations)
        order << c[0] << "/" << c[1] << " ";

    EXPECT_EQ (order, "6/6 5/5 2/2 1/1 ");
    EXPECT_EQ (Kelt5_1liteAudioProcessor().getChannelLayoutOfBus (true, 0), juce::AudioChannelSet::create5point1());

    // JUCE appends Entry and Factory to the prefix.
    EXPECT_EQ (juce::String (JucePlugin_AUExportPrefixQuoted "Entry ") + JucePlugin_AUExportPrefixQuoted "Factory",
               "Kelt51_LE_AUEntry Kelt51_LE_AUFactory");
}

//==============================================================================
TEST (ProcessorBlocks, PassAudioThroughUnchangedWhateverTheHostSends)
{
    juce::Random random (42);

    // Named, odd and absurd rates and block sizes, real time and offline,
    // buffers with fewer or more channels than announced.
    for (auto [rate, blockSize] : std::initializer_list<std::pair<double, int>> {
             { 48000.0, 512 }, { 44100.0, 1 }, { 192000.0, 4096 }, { 22050.0, 0 }, { 0.0, 512 }, { -48000.0, -1 }, { (double) std::numeric_limits<float>::quiet_NaN(), 512 }, { (double) infinity, 0 }, { 1.0e9, 512 }, { 2147483648.0, 512 }, { 9.99, 512 }, { 10.0, 512 } })
    {
        Kelt5_1liteAudioProcessor p;
        p.prepareToPlay (rate, blockSize);
        PlayingHost host (p);

        for (bool offline : { false, true })
        {
            p.setNonRealtime (offline);

            for (int length : { 512, 1, 0, 80000 })
            {
                juce::AudioBuffer<float> buffer (1 + random.nextInt (8), length);
                TestAudio::fillWithNoise (buffer, random);
                EXPECT_TRUE (host.play (buffer)) << rate << " Hz, " << buffer.getNumChannels() << " channels, " << length << " samples";
            }
        }

        // Rates that cannot be measured are not.
        EXPECT_EQ (p.readings.momentaryLoudness.load() == -70.0f, ! (rate >= 10.0 && rate <= 768000.0)) << rate;
    }

    // The highest rate that can be measured is.
    Paced highest (768000.0);
    ASSERT_TRUE (highest.play ({ { -20.0, 1000.0, 0.5 } }));
    EXPECT_EQ (highest.momentaryValues.size(), 2u);
}

TEST (ProcessorBlocks, ABlockPlaysOnlyWhenTheHostPlaysAndHasMovedOn)
{
    Paced rig;
    auto& head = rig.host.playHead;
    juce::AudioBuffer<float> block (2, 480);
    block.clear();

    // move: how far the position moves on before the block; -1 repeats the last record.
    for (auto [playing, move, havePlayHead, hostPlaying, measured] : std::initializer_list<std::tuple<bool, int, bool, float, double>> {
             { true, 0, true, 1.0f, 480.0 }, { true, 480, true, 1.0f, 960.0 }, { true, -1, true, 0.0f, 960.0 }, { true, 480, true, 1.0f, 1440.0 }, { false, 480, true, 0.0f, 1440.0 }, { true, 480, false, 0.0f, 1440.0 }, { true, 480, true, 1.0f, 1920.0 } })
    {
        const auto last = head.position.getTimeInSamples().orFallback (0);
        head.set (playing, move < 0 ? last : last + move);
        head.available = havePlayHead;
        juce::MidiBuffer midi;
        rig.p.processBlock (block, midi);

        EXPECT_EQ (rig.p.hostPlaying.load(), hostPlaying);
        EXPECT_EQ (rig.p.readings.measuredSamples.load(), measured);
        EXPECT_EQ (rig.p.lastPositionInfo.isPlaying, playing && havePlayHead);
    }

    // Before a window is whole, every reading but the play time is as on a fresh instance.
    auto r = rig.readings();
    r.measuredSamples = 0.0;
    EXPECT_EQ (fields (r), fields (Kelt5_1liteAudioProcessor().readings.load()));
}

TEST (ProcessorBlocks, EveryTakeAndEveryResetStartsTheMeasurementAfresh)
{
    // A loud low tone before: neither its samples nor the filters' memory of it
    // may reach what follows a start of the transport or a reset.
    const std::vector<Tone> take { { -200.0, 1000.0, 0.6 }, { -20.0, 1000.0, 2.0 }, { -32.0, 60.0, 3.5 } };
    Paced fresh;
    ASSERT_TRUE (fresh.play (take));
    fresh.host.stop();

    for (int before : { 0, 1, 2 }) // stopped, a take of its own, playing on into a reset
    {
        SCOPED_TRACE (before);
        Paced rig;
        ASSERT_TRUE (rig.play ({ { -6.0, 40.0, 1.37 } }, before != 0));
        rig.p.readings.truePeakOverload = 1;

        if (before == 2)
            rig.p.resetMeasurement();
        else
            rig.host.stop();

        rig.momentaryValues.clear();
        ASSERT_TRUE (rig.play (take));
        rig.host.stop();

        // Integration runs over every take, but a stopped stretch adds nothing.
        EXPECT_EQ (rig.momentaryValues, fresh.momentaryValues);
        EXPECT_EQ (rig.readings().shortTermLoudness, fresh.readings().shortTermLoudness);

        if (before != 1)
        {
            EXPECT_EQ (std::tuple (rig.readings().integratedLoudness, rig.readings().loudnessRange, rig.readings().measuredSamples),
                       std::tuple (fresh.readings().integratedLoudness, fresh.readings().loudnessRange, fresh.readings().measuredSamples));
        }

        if (before == 2)
        {
            EXPECT_EQ (fields (rig.readings()), fields (fresh.readings()));
        }
    }

    fresh.p.resetMeasurement();
    EXPECT_EQ (fields (fresh.readings()), fields (Kelt5_1liteAudioProcessor().readings.load()));
}

TEST (ProcessorBlocks, ABlockWhileTheGateIsClosedPassesAndLeavesNoTrace)
{
    Paced straight, held;
    ASSERT_TRUE (straight.play ({ { -30.0, 1000.0, 1.0 } }) && held.play ({ { -30.0, 1000.0, 1.0 } }));

    {
        const ProcessingGate::ScopedClosure closure (held.p.processingGate); // as a preparation or a reset closes it
        EXPECT_TRUE (held.play ({ { -3.0, 1000.0, 0.05 } }));
    }

    // No play time, no samples in the windows, no filter memory of it.
    ASSERT_TRUE (straight.play ({ { -30.0, 1000.0, 3.5 } }) && held.play ({ { -30.0, 1000.0, 3.5 } }));
    EXPECT_EQ (held.momentaryValues, straight.momentaryValues);
    EXPECT_EQ (fields (held.readings()), fields (straight.readings()));
}

TEST (ProcessorBlocks, ReadingsFollowTheMeasurementOnTheChosenScale)
{
    Paced rig;
    auto& p = rig.p;
    auto& engine = p.loudnessModule;
    float highestMomentary = -70.0f, highestShortTerm = -70.0f;

    for (auto [level, scale] : std::initializer_list<std::pair<double, float>> { { -26.0, 1.0f }, { -20.0, 1.0f }, { -26.0, 0.0f }, { -45.0, 0.0f } })
    {
        p.setParameter (1, scale);
        ToneProgramme programme ({ { level, 1000.0, 4.0 } });

        rig.host.play (programme, 2, 2400, [&] {
            // Positions are published with their values, on the scale then in force.
            const auto r = rig.readings();
            EXPECT_TRUE (! engine.newMomentaryAvailable.load() || r.momentaryMeterPosition == p.loudnessToMeterPosition (r.momentaryLoudness));
            EXPECT_TRUE (! engine.newShortTermAvailable.load() || r.shortTermMeterPosition == p.loudnessToMeterPosition (r.shortTermLoudness));
            EXPECT_EQ (r.maxMomentaryLoudness, highestMomentary = std::max (highestMomentary, r.momentaryLoudness));
            EXPECT_EQ (r.maxShortTermLoudness, highestShortTerm = std::max (highestShortTerm, r.shortTermLoudness));
            rig.step();
        });
    }

    rig.host.stop();
    const auto r = rig.readings();
    EXPECT_NEAR (r.maxMomentaryLoudness, -20.0f, 0.11f);
    EXPECT_NEAR (r.momentaryLoudness, -45.0f, 0.11f);
    EXPECT_EQ (r.integratedLoudness, round1 (engine.latestIntegrated.load()));
    EXPECT_EQ (r.loudnessRange, round1 (engine.latestRange.load()));
    EXPECT_EQ (r.rangeLowMeterPosition, p.loudnessToMeterPosition (engine.latestRangeLow.load()));
    EXPECT_EQ (r.rangeHighMeterPosition, p.loudnessToMeterPosition (engine.latestRangeHigh.load()));
    EXPECT_EQ (r.measuredSamples, 16.0 * 48000.0);

    // +18 only when the scale rounds to 18: ends, middle and floor of both scales.
    for (auto [scale, loudness, position] : std::initializer_list<std::tuple<float, float, float>> {
             { 18.0f, -59.0f, 0.0f }, { 18.0f, -5.0f, 1.0f }, { 17.5f, -23.0f, 0.5515591f }, { 18.49f, -70.0f, -0.1072559f }, { 18.0f, 0.0f, 1.153475f }, { 9.0f, -41.0f, 0.0f }, { 9.0f, -14.0f, 1.0f }, { 17.4f, -23.0f, 0.5515591f }, { 18.6f, -70.0f, -0.3831652f }, { 0.0f, 0.0f, 2.075013f } })
    {
        p.measurementScale = scale;
        EXPECT_NEAR (p.loudnessToMeterPosition (loudness), position, 5.0e-7f * std::max (1.0f, std::abs (position))) << loudness << " on scale " << scale;
    }
}

TEST (ProcessorBlocks, TheTruePeakIndicatorLatchesAboveTheRoundedLimitUntilAReset)
{
    // At 192 kHz the true peak is the sample peak, so levels are exact.
    for (auto [level, limit, channel, latched] : std::initializer_list<std::tuple<float, float, int, int>> {
             { -0.96f, -1.0f, 1, 0 }, { -0.94f, -1.0f, 1, 1 }, { -6.0f, -6.0f, 5, 0 }, { -5.9f, -6.0f, 0, 1 }, { 0.0f, -1.0f, 6, 0 }, { -200.0f, -12.0f, 0, 0 } })
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

TEST (ProcessorBlocks, ABadSampleSpoilsOnlyTheWindowsThatHoldIt)
{
    // One bad sample, or a whole block of them.
    for (auto [bad, length] : { std::pair (std::numeric_limits<float>::quiet_NaN(), 1), { infinity, 2400 }, { -infinity, 1 } })
    {
        Paced rig;
        ASSERT_TRUE (rig.play ({ { -20.0, 1000.0, 4.0 } }));
        const auto before = rig.readings();
        juce::AudioBuffer<float> block (2, 2400);
        ToneProgramme ({ { -20.0, 1000.0, 0.05 } }).fill (block);

        for (int i = 0; i < length; ++i)
            block.setSample (i % 2, (1234 + i) % 2400, bad);

        EXPECT_TRUE (rig.host.play (block)); // bit for bit, NaN included
        rig.step();
        EXPECT_EQ (rig.p.readings.truePeakOverload.load(), std::isinf (bad) ? 1 : 0);

        // Once the window has passed, everything reads as before, with no
        // change of play state or reset to help.
        ASSERT_TRUE (rig.play ({ { -20.0, 1000.0, 3.5 } }));
        rig.host.stop();
        auto after = rig.readings();
        after.measuredSamples = before.measuredSamples;
        after.truePeakOverload = 0;
        EXPECT_EQ (fields (after), fields (before)) << bad << " in " << length;
    }
}

TEST (ProcessorBlocks, PreparingAgainKeepsTheMeasurementAndANewRateRestartsOnlyTheWindows)
{
    const std::vector<Tone> tones { { -23.0, 1000.0, 2.3 }, { -31.0, 300.0, 1.1 } };
    Paced straight, again;
    ASSERT_TRUE (straight.play (tones) && again.play (tones));

    // Preparing attaches the engine; stopped, the thread cannot take a window.
    again.p.loudnessThread.stopThread (1000);
    again.p.prepareToPlay (48000.0, 1024);
    again.p.releaseResources();
    ASSERT_TRUE (straight.play (tones) && again.play (tones));
    EXPECT_EQ (again.momentaryValues, straight.momentaryValues);
    EXPECT_EQ (fields (again.readings()), fields (straight.readings()));

    // At a new rate the windows start again, each K-weighted for its own rate,
    // and the integration carries on: as many windows at -23 as at -29.
    Paced rig;
    ASSERT_TRUE (rig.play ({ { -23.0, 1000.0, 5.0 } }));
    rig.p.prepareToPlay (96000.0, 4800);
    rig.p.releaseResources();
    PlayingHost host96 (rig.p, 96000.0);
    ToneProgramme quieter ({ { -29.0, 1000.0, 5.0 } }, 96000.0);
    host96.play (quieter, 2, 4800, [&] { rig.step(); });
    host96.stop();

    EXPECT_EQ (rig.momentaryValues.size(), 2u * 47u);
    EXPECT_EQ (rig.readings().integratedLoudness, round1 (10.0f * std::log10 ((std::pow (10.0f, -2.3f) + std::pow (10.0f, -2.9f)) / 2.0f)));

    // A rate that cannot be measured measures nothing, until a measurable one comes.
    Paced unmeasured;
    ASSERT_TRUE (unmeasured.play ({ { -23.0, 1000.0, 5.0 } }));
    const auto before = unmeasured.readings();
    unmeasured.p.prepareToPlay (5.0, 2400);
    unmeasured.p.releaseResources();
    unmeasured.momentaryValues.clear();
    ASSERT_TRUE (unmeasured.play ({ { -6.0, 1000.0, 4.0 } }));
    EXPECT_TRUE (unmeasured.momentaryValues.empty());
    EXPECT_EQ (std::tuple (unmeasured.readings().integratedLoudness, unmeasured.readings().maxMomentaryLoudness, unmeasured.readings().measuredSamples),
               std::tuple (before.integratedLoudness, before.maxMomentaryLoudness, before.measuredSamples + 4.0 * 48000.0));

    unmeasured.p.prepareToPlay (48000.0, 2400);
    unmeasured.p.releaseResources();
    ASSERT_TRUE (unmeasured.play ({ { -23.0, 1000.0, 3.0 } }));
    EXPECT_EQ (unmeasured.momentaryValues.size(), 27u);
}

TEST (ProcessorBlocks, ASteadyHostAllocatesNothingOnTheAudioThread)
{
    for (double sampleRate : { 44100.0, 48000.0, 96000.0, 192000.0 })
    {
        Kelt5_1liteAudioProcessor p;
        p.prepareToPlay (sampleRate, 256); // the loudness thread keeps running
        PlayingHost host (p, sampleRate);
        juce::AudioBuffer<float> buffer (6, 512);
        juce::Random random (1);

        const auto block = [&] (int length, bool playing = true) {
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
