#include <gtest/gtest.h>

#include "host/HostedPluginLoader.h"
#include "support/TestAudio.h"

#include <atomic>
#include <thread>

namespace
{
    using Format = HostedPluginLoader::Format;
    using Set = juce::AudioChannelSet;

    constexpr double sampleRate = 48000.0;

    const char* const parameterNames[] = { "Host Playstate", "Measurement Scale", "TruePeak Max Level" };

    juce::AudioProcessor::BusesLayout layoutOf (const Set& input, const Set& output)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (input);
        layout.outputBuses.add (output);
        return layout;
    }

    Set channelSetFor (int numChannels)
    {
        switch (numChannels)
        {
            case 1:  return Set::mono();
            case 2:  return Set::stereo();
            case 5:  return Set::create5point0();
            case 6:  return Set::create5point1();
            default: return Set::discreteChannels (numChannels);
        }
    }

    /** One hosted instance of the built plug-in, created for each test. */
    class HostedInstanceFixture
    {
    protected:
        ::testing::AssertionResult create (Format format)
        {
            juce::String error;
            instance = loader.createInstance (format, sampleRate, TestAudio::maxBlockLength, error);

            if (instance == nullptr)
                return ::testing::AssertionFailure() << error;

            return ::testing::AssertionSuccess();
        }

        /** Noise through several blocks of varied length; fails on the first
            output block that differs from its input in any bit. */
        ::testing::AssertionResult passesNoiseUnchanged (int numChannels)
        {
            instance->prepareToPlay (sampleRate, TestAudio::maxBlockLength);

            juce::Random random (numChannels);
            juce::AudioBuffer<float> buffer, input;
            juce::MidiBuffer midi;
            auto result = ::testing::AssertionSuccess();

            for (auto length : TestAudio::blockLengths)
            {
                buffer.setSize (numChannels, length);
                TestAudio::fillWithNoise (buffer, random);
                input.makeCopyOf (buffer);

                instance->processBlock (buffer, midi);

                if (! TestAudio::sameBits (buffer, input, numChannels, length))
                {
                    result = ::testing::AssertionFailure() << numChannels << " channels changed in a block of " << length;
                    break;
                }
            }

            instance->releaseResources();
            return result;
        }

        HostedPluginLoader loader;
        std::unique_ptr<juce::AudioPluginInstance> instance;
    };

    class HostedFormatTest : public ::testing::TestWithParam<Format>,
                             protected HostedInstanceFixture
    {
    protected:
        void SetUp() override   { ASSERT_TRUE (create (GetParam())); }

        bool isVst3() const     { return GetParam() == Format::vst3; }
    };

    class Vst3HostTest : public ::testing::Test,
                         protected HostedInstanceFixture
    {
    protected:
        void SetUp() override   { ASSERT_TRUE (create (Format::vst3)); }
    };

    std::string formatName (const ::testing::TestParamInfo<Format>& info)
    {
        return HostedPluginLoader::getFormatName (info.param).toStdString();
    }
}

//==============================================================================
TEST_P (HostedFormatTest, LoadsAsAnEffectNamedKelt)
{
    const auto description = loader.findDescription (GetParam());
    ASSERT_NE (description, nullptr);

    EXPECT_EQ (description->name, "Kelt5.1 LE");
    EXPECT_FALSE (description->isInstrument);
    EXPECT_EQ (instance->getName(), "Kelt5.1 LE");
    EXPECT_FALSE (instance->acceptsMidi());
    EXPECT_FALSE (instance->producesMidi());
    EXPECT_TRUE (instance->hasEditor());

    // VST3 starts on stereo, the common track; LV2 ports are fixed at 5.1.
    EXPECT_EQ (instance->getTotalNumInputChannels(), isVst3() ? 2 : 6);
    EXPECT_EQ (instance->getTotalNumOutputChannels(), isVst3() ? 2 : 6);

    if (isVst3())
    {
        EXPECT_EQ (description->version, "1.0.1");
        EXPECT_TRUE (description->category.contains ("Fx")) << description->category;
    }
    else
    {
        EXPECT_EQ (description->numInputChannels, 6);
        EXPECT_EQ (description->numOutputChannels, 6);

        // JUCE's scan leaves the version out; LV2 hosts read it from the
        // bundle's description.
        const auto dsp = juce::File (KELT_LV2_BUNDLE).getChildFile ("dsp.ttl").loadFileAsString();
        EXPECT_TRUE (dsp.contains ("doap:revision \"1.0.1\""));
        EXPECT_TRUE (dsp.contains ("foaf:mbox <mailto:contact@vesk-audio.example> ;"));
    }
}

TEST_P (HostedFormatTest, OffersThreeNamedParameters)
{
    const auto parameters = HostedPluginLoader::getOwnParameters (*instance);
    ASSERT_EQ (parameters.size(), 3);

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (parameters[i]->getName (100), parameterNames[i]) << "parameter " << i;
}

TEST_P (HostedFormatTest, PassesAudioThroughUnchanged)
{
    const auto channelCounts = isVst3() ? std::vector<int> { 1, 2, 5, 6 } : std::vector<int> { 6 };

    for (auto numChannels : channelCounts)
    {
        if (isVst3())
        {
            const auto set = channelSetFor (numChannels);
            ASSERT_TRUE (instance->setBusesLayout (layoutOf (set, set))) << numChannels;
        }

        ASSERT_EQ (instance->getTotalNumInputChannels(), numChannels);
        ASSERT_EQ (instance->getTotalNumOutputChannels(), numChannels);
        EXPECT_TRUE (passesNoiseUnchanged (numChannels));
    }
}

TEST_P (HostedFormatTest, EditorOpensAtItsFixedSize)
{
    // Audio runs throughout, as in a host that plays while its user opens
    // and closes the plug-in's window.
    instance->prepareToPlay (sampleRate, TestAudio::maxBlockLength);
    std::atomic<bool> playing { true };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (6, TestAudio::maxBlockLength);
        juce::MidiBuffer midi;
        juce::Random random (1);

        while (playing)
        {
            TestAudio::fillWithNoise (buffer, random);
            instance->processBlock (buffer, midi);
        }
    });

    auto* limit = HostedPluginLoader::getOwnParameters (*instance)[2];

    for (int opening = 0; opening < 100; ++opening)
    {
        // LV2 delivers the host's value with the next blocks.
        limit->setValueNotifyingHost (0.0f);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
        std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);

        editor->addToDesktop (0);
        editor->setVisible (true);

        // A hosted view may report its size only once the message loop has
        // run; the editor's first act sets the -1 dBTP limit.
        for (int i = 0; i < 100 && (editor->getWidth() != 249 || editor->getHeight() != 502 || limit->getValue() != 1.0f); ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

        EXPECT_EQ (editor->getWidth(), 249);
        EXPECT_EQ (editor->getHeight(), 502);
        EXPECT_EQ (limit->getValue(), 1.0f) << "opening " << opening;

        // JUCE 7.0.5's XEmbedComponent, which holds the hosted view, posts its
        // resize handling with a plain pointer to itself: let that run first.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

        // Deleted while still on the desktop, as a host closes its window: the
        // hosted view is detached before the window under it goes.
        editor.reset();
    }

    playing = false;
    audio.join();
    instance->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedFormatTest,
                          ::testing::Values (Format::vst3, Format::lv2), formatName);

//==============================================================================
TEST_F (Vst3HostTest, AcceptsOnlyEqualInputAndOutputCountsOfSixFiveTwoOrOne)
{
    for (const auto& set : { Set::create5point1(), Set::create5point0(), Set::stereo(), Set::mono() })
    {
        EXPECT_TRUE (instance->checkBusesLayoutSupported (layoutOf (set, set))) << set.getDescription();
        EXPECT_TRUE (instance->setBusesLayout (layoutOf (set, set))) << set.getDescription();
        EXPECT_EQ (instance->getTotalNumInputChannels(), set.size());
    }

    EXPECT_FALSE (instance->checkBusesLayoutSupported (layoutOf (Set::createLCR(), Set::createLCR())));
    EXPECT_FALSE (instance->checkBusesLayoutSupported (layoutOf (Set::stereo(), Set::create5point1())));
    EXPECT_FALSE (instance->setBusesLayout (layoutOf (Set::createLCR(), Set::createLCR())));

    // A refused layout leaves the last accepted one in place.
    EXPECT_EQ (instance->getTotalNumInputChannels(), 1);
    EXPECT_EQ (instance->getTotalNumOutputChannels(), 1);
}

// LV2 hosts format parameter values themselves and know them only from their
// own changes, so values and texts are checked where the plug-in answers.
TEST_F (Vst3HostTest, ParametersShowTwoDecimalsAndTheScaleReadsBack)
{
    const auto parameters = HostedPluginLoader::getOwnParameters (*instance);
    ASSERT_EQ (parameters.size(), 3);

    EXPECT_FLOAT_EQ (parameters[0]->getValue(), 0.0f);
    EXPECT_FLOAT_EQ (parameters[1]->getValue(), 1.0f);
    EXPECT_EQ (parameters[0]->getCurrentValueAsText(), "0.00");
    EXPECT_EQ (parameters[1]->getCurrentValueAsText(), "1.00");

    parameters[1]->setValueNotifyingHost (0.0f);

    EXPECT_FLOAT_EQ (parameters[1]->getValue(), 0.0f);
    EXPECT_EQ (parameters[1]->getCurrentValueAsText(), "0.00");
}
