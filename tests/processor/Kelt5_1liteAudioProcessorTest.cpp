#include <gtest/gtest.h>

#include "support/TestAudio.h"
#include "processor/Kelt5_1liteAudioProcessor.h"

#include <chrono>
#include <cmath>
#include <thread>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    using Clock = std::chrono::steady_clock;

    juce::AudioBuffer<float> makeNoise (int channels, int samples, juce::Random& random)
    {
        juce::AudioBuffer<float> buffer (channels, samples);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < samples; ++i)
                buffer.setSample (c, i, random.nextFloat() * 2.0f - 1.0f);
        return buffer;
    }

}

TEST (ProcessorIdentity, AnswersTheHostsQuestions)
{
    Kelt5_1liteAudioProcessor p;

    EXPECT_EQ (p.getName(), "Kelt5.1 LE");
    EXPECT_EQ (p.getInputChannelName (0), "1");
    EXPECT_EQ (p.getInputChannelName (5), "6");
    EXPECT_EQ (p.getOutputChannelName (0), "1");
    EXPECT_EQ (p.getOutputChannelName (5), "6");
    EXPECT_EQ (p.getInputChannelName (-3), "-2");

    for (int i : { 0, 1, 2, 3, 7 })
    {
        EXPECT_TRUE (p.isInputChannelStereoPair (i));
        EXPECT_TRUE (p.isOutputChannelStereoPair (i));
    }

    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_TRUE (p.silenceInProducesSilenceOut());
    EXPECT_TRUE (p.hasEditor());
    EXPECT_EQ (p.getLatencySamples(), 0);

    EXPECT_EQ (p.getNumPrograms(), 0);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    p.setCurrentProgram (3);
    p.changeProgramName (0, "x");
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getProgramName (0), "");
    EXPECT_EQ (p.getProgramName (9), "");
}

TEST (ProcessorIdentity, BuildConfigurationMatchesTheProduct)
{
    EXPECT_STREQ (JucePlugin_Name, "Kelt5.1 LE");
    EXPECT_STREQ (JucePlugin_Desc, "Kelt5.1 Light Edition");
    EXPECT_STREQ (JucePlugin_VersionString, "1.0.1");
    EXPECT_EQ (JucePlugin_VersionCode, 0x10001);
    EXPECT_EQ (JucePlugin_PluginCode, 0x5a756e6f);        // 'Zuno'
    EXPECT_EQ (JucePlugin_ManufacturerCode, 0x5665736b);  // 'Vesk'
    EXPECT_FALSE (JucePlugin_IsSynth);
    EXPECT_FALSE (JucePlugin_WantsMidiInput);
    EXPECT_FALSE (JucePlugin_ProducesMidiOutput);

    const short configs[][2] = { JucePlugin_PreferredChannelConfigurations };
    const short expected[][2] = { { 2, 2 }, { 6, 6 }, { 5, 5 }, { 1, 1 } };
    ASSERT_EQ (std::size (configs), std::size (expected));
    for (size_t i = 0; i < std::size (expected); ++i)
    {
        EXPECT_EQ (configs[i][0], expected[i][0]);
        EXPECT_EQ (configs[i][1], expected[i][1]);
    }
}

TEST (ProcessorIdentity, AcceptsOnlyTheFourChannelConfigurations)
{
    Kelt5_1liteAudioProcessor p;

    // The main buses start active, with the first configuration.
    ASSERT_EQ (p.getBusCount (true), 1);
    ASSERT_EQ (p.getBusCount (false), 1);
    EXPECT_TRUE (p.getBus (true, 0)->isEnabled());
    EXPECT_TRUE (p.getBus (false, 0)->isEnabled());
    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 2);

    for (int n : { 1, 2, 5, 6 })
        EXPECT_TRUE (p.setChannelLayoutOfBus (true, 0, juce::AudioChannelSet::canonicalChannelSet (n))
                     && p.setChannelLayoutOfBus (false, 0, juce::AudioChannelSet::canonicalChannelSet (n)))
            << n << " channels";

    auto layoutOf = [] (int in, int out)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (in));
        layout.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (out));
        return layout;
    };

    for (int n : { 1, 2, 5, 6 })
        EXPECT_TRUE (p.checkBusesLayoutSupported (layoutOf (n, n)));

    EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf (3, 3)));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf (8, 8)));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf (2, 6)));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf (1, 2)));
}

//==============================================================================
TEST (ProcessorParameters, NamesAndInitialValues)
{
    Kelt5_1liteAudioProcessor p;

    EXPECT_EQ (p.getNumParameters(), 3);
    EXPECT_EQ (p.getParameterName (0), "Host Playstate");
    EXPECT_EQ (p.getParameterName (1), "Measurement Scale");
    EXPECT_EQ (p.getParameterName (2), "TruePeak Max Level");
    EXPECT_EQ (p.getParameterName (3), "");
    EXPECT_EQ (p.getParameterName (-1), "");

    // The framework's own answers for parameters without parameter objects.
    EXPECT_EQ (p.getParameterName (1, 15), "Measurement Sca");
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ (p.getParameterNumSteps (i), 0x7fffffff);
        EXPECT_EQ (p.getParameterDefaultValue (i), 0.0f);
        EXPECT_EQ (p.getParameterLabel (i), "");
        EXPECT_TRUE (p.isParameterAutomatable (i));
        EXPECT_FALSE (p.isParameterOrientationInverted (i));
        EXPECT_FALSE (p.isMetaParameter (i));
    }

    EXPECT_EQ (p.getParameter (0), 0.0f);
    EXPECT_EQ (p.getParameter (1), 1.0f);
    EXPECT_EQ (p.getParameter (2), 1.0f);   // -1 dBTP until a host or the editor sets it
    EXPECT_EQ (p.getParameterText (0), "0.00");
    EXPECT_EQ (p.getParameterText (1), "1.00");
    EXPECT_EQ (p.getParameterText (2), "1.00");
    EXPECT_EQ (p.measurementScale.load(), 18.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -1.0f);
}

TEST (ProcessorParameters, MappingsAreExactAndUnchecked)
{
    Kelt5_1liteAudioProcessor p;

    p.setParameter (1, 0.0f);
    EXPECT_EQ (p.measurementScale.load(), 9.0f);
    EXPECT_EQ (p.getParameter (1), 0.0f);
    p.setParameter (1, 1.0f);
    EXPECT_EQ (p.measurementScale.load(), 18.0f);
    EXPECT_EQ (p.getParameter (1), 1.0f);
    p.setParameter (1, 0.5f);
    EXPECT_EQ (p.measurementScale.load(), 13.5f);
    EXPECT_EQ (p.getParameter (1), 0.5f);
    EXPECT_EQ (p.getParameterText (1), "0.50");

    // 0.1 stores the float nearest 9.9 and does not read back exactly.
    p.setParameter (1, 0.1f);
    EXPECT_EQ (p.measurementScale.load(), 9.9f);
    EXPECT_EQ (p.getParameter (1), 0.09999996f);
    EXPECT_NE (p.getParameter (1), 0.1f);

    p.setParameter (2, 1.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -1.0f);
    p.setParameter (2, 0.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -12.0f);
    p.setParameter (2, 0.5f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -6.5f);
    p.setParameter (2, 6.0f / 11.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -6.0f);
    EXPECT_EQ (p.getParameterText (2), "0.55");

    // Values outside 0..1 are stored as given.
    p.setParameter (1, 2.0f);
    EXPECT_EQ (p.measurementScale.load(), 27.0f);
    p.setParameter (2, -1.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -23.0f);
    p.setParameter (0, 0.3f);
    EXPECT_EQ (p.getParameter (0), 0.3f);

    // Indices outside 0..2 are ignored and read as 0.
    p.setParameter (3, 0.7f);
    p.setParameter (-1, 0.7f);
    EXPECT_EQ (p.getParameter (3), 0.0f);
    EXPECT_EQ (p.getParameter (-1), 0.0f);
    EXPECT_EQ (p.getParameterText (5), "0.00");
    EXPECT_EQ (p.measurementScale.load(), 27.0f);
}

TEST (ProcessorParameters, TextsShowTheNormalisedValueWithTwoDecimals)
{
    Kelt5_1liteAudioProcessor p;

    p.measurementScale = 0.0f;        // as a restored state may leave it
    EXPECT_EQ (p.getParameter (1), -1.0f);
    EXPECT_EQ (p.getParameterText (1), "-1.00");

    p.hostPlaying = -0.004f;
    EXPECT_EQ (p.getParameterText (0), "-0.00");
    p.hostPlaying = 0.125f;
    EXPECT_EQ (p.getParameterText (0), "0.13");
    p.hostPlaying = 0.625f;                     // halves round away from zero
    EXPECT_EQ (p.getParameterText (0), "0.63");
    p.hostPlaying = 0.005f;                     // just below 0.005 as a float
    EXPECT_EQ (p.getParameterText (0), "0.00");
    p.hostPlaying = 123.456f;
    EXPECT_EQ (p.getParameterText (0), "123.46");
    p.hostPlaying = 1.0f;
    EXPECT_EQ (p.getParameterText (0), "1.00");
    EXPECT_EQ (p.getParameterText (0, 3), "1.0");
}

//==============================================================================
TEST (ProcessorLifetime, UnpreparedProcessorIsDestroyedWithoutWaiting)
{
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i)
    {
        Kelt5_1liteAudioProcessor p;
        EXPECT_TRUE (p.loudnessThread.isThreadRunning());
        EXPECT_EQ (p.loudnessThread.getNumClients(), 0);
    }
    EXPECT_LT (Clock::now() - start, std::chrono::milliseconds (2500));
}

TEST (ProcessorLifetime, AttachesTheEngineOnceAndDetachesOnRelease)
{
    auto p = std::make_unique<Kelt5_1liteAudioProcessor>();

    p->releaseResources();   // before any preparation: nothing happens
    p->releaseResources();
    EXPECT_EQ (p->loudnessThread.getNumClients(), 0);

    p->prepareToPlay (48000.0, 512);
    p->prepareToPlay (48000.0, 1024);
    EXPECT_EQ (p->loudnessThread.getNumClients(), 1);
    EXPECT_EQ (p->loudnessThread.getClient (0), &p->loudnessModule);
    EXPECT_EQ (p->currentSampleRate.load(), 48000.0);

    p->releaseResources();
    EXPECT_EQ (p->loudnessThread.getNumClients(), 0);

    p->prepareToPlay (44100.0, 256);
    EXPECT_EQ (p->loudnessThread.getNumClients(), 1);
    EXPECT_EQ (p->currentSampleRate.load(), 44100.0);

    // Destroyed while attached: the thread is stopped first.
    const auto start = Clock::now();
    p.reset();
    EXPECT_LT (Clock::now() - start, std::chrono::milliseconds (900));
}

TEST (ProcessorLifetime, StartsWithADefinedNonPlayingPosition)
{
    Kelt5_1liteAudioProcessor p;
    EXPECT_FALSE (p.lastPositionInfo.isPlaying);
    EXPECT_EQ (p.lastPositionInfo.bpm, 120.0);
    EXPECT_EQ (p.currentSampleRate.load(), 0.0);
}

//==============================================================================
TEST (ProcessorAudio, PassesAudioThroughUnchanged)
{
    juce::Random random (42);

    for (int channels : { 1, 2, 5, 6 })
    {
        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (channels, channels, 48000.0, 512);
        p.prepareToPlay (48000.0, 512);

        for (int samples : { 512, 1, 0, 700 })
        {
            auto buffer = makeNoise (channels, samples, random);
            const auto original = buffer;
            juce::MidiBuffer midi;
            p.processBlock (buffer, midi);
            EXPECT_TRUE (TestAudio::sameBits (buffer, original)) << channels << " channels, " << samples << " samples";
            EXPECT_TRUE (midi.isEmpty());
        }

        p.releaseResources();
    }
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
