#include <gtest/gtest.h>

#include "host/HostedPluginLoader.h"
#include "support/TestAudio.h"

#include <atomic>
#include <thread>
#include <chrono>
#include <limits>

// The built VST3 and LV2 binaries, loaded through JUCE's hosting as a host
// application loads them.

namespace
{
    using Format = HostedPluginLoader::Format;
    using Set = juce::AudioChannelSet;

    constexpr double sampleRate = 48000.0;
    constexpr float notANumber = std::numeric_limits<float>::quiet_NaN(), infinity = std::numeric_limits<float>::infinity();

    juce::AudioProcessor::BusesLayout layoutOf (const Set& input, const Set& output)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (input);
        layout.outputBuses.add (output);
        return layout;
    }

    class HostedFormatTest : public ::testing::TestWithParam<Format>
    {
    protected:
        void SetUp() override { ASSERT_NE (instance = create(), nullptr); }

        std::unique_ptr<juce::AudioPluginInstance> create()
        {
            juce::String error;
            auto created = loader.createInstance (GetParam(), sampleRate, TestAudio::maxBlockLength, error);
            EXPECT_NE (created, nullptr) << error;
            return created;
        }

        bool isVst3() const { return GetParam() == Format::vst3; }

        /** One block through the instance; false if any bit changed. */
        static bool passesUnchanged (juce::AudioPluginInstance& plugin, juce::AudioBuffer<float>& buffer)
        {
            juce::AudioBuffer<float> input;
            input.makeCopyOf (buffer);
            juce::MidiBuffer midi;
            plugin.processBlock (buffer, midi);
            return TestAudio::sameBits (buffer, input, buffer.getNumChannels(), buffer.getNumSamples());
        }

        HostedPluginLoader loader;
        std::unique_ptr<juce::AudioPluginInstance> instance;
    };

    std::string formatName (const ::testing::TestParamInfo<Format>& info)
    {
        return HostedPluginLoader::getFormatName (info.param).toStdString();
    }
}

//==============================================================================
TEST_P (HostedFormatTest, LoadsAsAnEffectWithThreeNamedParameters)
{
    const auto description = loader.findDescription (GetParam());
    ASSERT_NE (description, nullptr);

    EXPECT_EQ (description->name, "Kelt5.1 LE");
    EXPECT_FALSE (description->isInstrument);
    EXPECT_EQ (instance->getName(), "Kelt5.1 LE");
    EXPECT_FALSE (instance->acceptsMidi() || instance->producesMidi());
    EXPECT_TRUE (instance->hasEditor());

    // VST3 starts on stereo, the common track; LV2 ports are fixed at 5.1.
    EXPECT_EQ (instance->getTotalNumInputChannels(), isVst3() ? 2 : 6);
    EXPECT_EQ (instance->getTotalNumOutputChannels(), isVst3() ? 2 : 6);

    // JUCE's LV2 scan leaves the version out; LV2 hosts read it from the bundle.
    if (isVst3())
    {
        EXPECT_TRUE (description->version == "1.0.1" && description->category.contains ("Fx")) << description->category;
    }
    else
    {
        const auto dsp = juce::File (KELT_LV2_BUNDLE).getChildFile ("dsp.ttl").loadFileAsString();
        EXPECT_TRUE (dsp.contains ("doap:revision \"1.0.1\"") && dsp.contains ("foaf:mbox <mailto:contact@vesk-audio.example> ;"));
    }

    const auto parameters = HostedPluginLoader::getOwnParameters (*instance);
    ASSERT_EQ (parameters.size(), 3);
    EXPECT_EQ (parameters[0]->getName (100) + "|" + parameters[1]->getName (100) + "|" + parameters[2]->getName (100),
               "Host Playstate|Measurement Scale|TruePeak Max Level");

    // LV2 hosts format values themselves and know them only from their own
    // changes, so values and texts are checked where the plug-in answers.
    if (isVst3())
    {
        EXPECT_EQ (parameters[0]->getCurrentValueAsText() + parameters[1]->getCurrentValueAsText(), "0.001.00");
        parameters[1]->setValueNotifyingHost (0.0f);
        EXPECT_FLOAT_EQ (parameters[1]->getValue(), 0.0f);
        EXPECT_EQ (parameters[1]->getCurrentValueAsText(), "0.00");
    }
}

TEST_P (HostedFormatTest, PassesAudioThroughUnchangedWhateverTheHostDoes)
{
    // First the starting layout, which a host may keep without asking (VST3
    // starts on stereo, LV2 ports stay at 5.1); then any other a VST3 host chooses.
    const auto layouts = isVst3() ? std::vector<Set> { Set::stereo(), Set::mono(), Set::create5point0(), Set::create5point1() }
                                  : std::vector<Set> { Set::create5point1() };
    juce::Random random (1);
    juce::AudioBuffer<float> buffer;

    for (const auto& layout : layouts)
    {
        ASSERT_TRUE (! isVst3() || layout == Set::stereo() || instance->setBusesLayout (layoutOf (layout, layout)));
        ASSERT_EQ (instance->getTotalNumInputChannels(), layout.size());
        const auto channels = layout.size();

        for (auto rate : { 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 22050.0, 48000.5 })
        {
            for (auto blockSize : { 1, 17, 512, 4096 })
            {
                instance->prepareToPlay (rate, blockSize);

                for (auto length : { 0, blockSize, 1, blockSize / 2 + 1 })
                {
                    buffer.setSize (channels, length);
                    TestAudio::fillWithNoise (buffer, random);
                    EXPECT_TRUE (passesUnchanged (*instance, buffer)) << channels << " channels, " << rate << " Hz, " << length;
                }

                // Every other time the host prepares again without releasing.
                if (blockSize != 17)
                    instance->releaseResources();
            }
        }
    }

    // Not-a-number, infinities and denormals pass bit for bit too.
    instance->prepareToPlay (sampleRate, 512);
    buffer.setSize (instance->getTotalNumInputChannels(), 512);

    for (int block = 0; block < 50; ++block) // past a 400 ms window
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < 512; ++i)
                buffer.setSample (c, i, i % 97 == 0 ? notANumber : i % 50 == 0 ? (c % 2 == 0 ? infinity : -infinity)
                                                                               : (float) (c - 3) * 1.0e-40f);

        ASSERT_TRUE (passesUnchanged (*instance, buffer)) << block;
    }

    instance->releaseResources();
}

TEST_P (HostedFormatTest, RestoresTheScaleIntoAFreshInstance)
{
    auto scaleOf = [] (juce::AudioPluginInstance& plugin) { return HostedPluginLoader::getOwnParameters (plugin)[1]; };

    // An LV2 host knows parameter values only from its own changes, so there
    // the plug-in's block (JUCE's wrapper keeps it in base 64 as one text
    // property of the host's state) is the evidence.
    auto savedScale = [this] (juce::AudioPluginInstance& plugin) {
        juce::MemoryBlock state, block;
        plugin.getStateInformation (state);

        if (isVst3())
            return juce::String (HostedPluginLoader::getOwnParameters (plugin)[1]->getValue() * 9.0f + 9.0f);

        const auto key = juce::String (KELT_LV2_URI) + ":StateString> \"";
        block.fromBase64Encoding (state.toString().fromFirstOccurrenceOf (key, false, false).upToFirstOccurrenceOf ("\"", false, false));
        const auto text = block.getSize() > 8 ? juce::String::fromUTF8 ((const char*) block.getData() + 8, (int) block.getSize() - 8)
                                              : juce::String();
        return text.fromFirstOccurrenceOf ("measurementScale=\"", false, false).upToFirstOccurrenceOf ("\"", false, false);
    };

    juce::MemoryBlock state;
    instance->prepareToPlay (sampleRate, 512);
    scaleOf (*instance)->setValueNotifyingHost (0.0f);

    // LV2 delivers parameter changes with the next block, as hosts do while they play.
    juce::AudioBuffer<float> silence (instance->getTotalNumInputChannels(), 512);
    silence.clear();
    passesUnchanged (*instance, silence);
    instance->getStateInformation (state);
    instance.reset();

    auto restored = create();
    ASSERT_NE (restored, nullptr);
    restored->prepareToPlay (sampleRate, 512);
    EXPECT_EQ (savedScale (*restored), "18");
    restored->setStateInformation (state.getData(), (int) state.getSize());
    EXPECT_EQ (savedScale (*restored), "9");

    if (isVst3())
    {
        EXPECT_EQ (scaleOf (*restored)->getCurrentValueAsText(), "0.00");
    }

    restored->releaseResources();
}

TEST_P (HostedFormatTest, InstancesComeAndGoWithoutWaitingForTheirThreads)
{
    // Unprepared, prepared and released, or destroyed while prepared; four at
    // once at different rates. A stuck loudness thread would cost a second.
    std::vector<std::unique_ptr<juce::AudioPluginInstance>> instances;

    for (int i = 0; i < 12; ++i)
    {
        instances.push_back (create());

        if (i % 3 != 0)
            instances.back()->prepareToPlay (44100.0 + 4000.0 * i, 256);

        if (i % 3 == 1)
            instances.back()->releaseResources();
    }

    juce::Random random (3);

    for (auto& plugin : instances)
    {
        juce::AudioBuffer<float> buffer (plugin->getTotalNumInputChannels(), 256);
        TestAudio::fillWithNoise (buffer, random);
        EXPECT_TRUE (passesUnchanged (*plugin, buffer));
    }

    const auto start = std::chrono::steady_clock::now();
    instances.clear();
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::milliseconds (1000));
}

TEST_P (HostedFormatTest, EditorOpensAtItsFixedSize)
{
    // Audio runs throughout, as in a host that plays while its user opens
    // and closes the plug-in's window.
    instance->prepareToPlay (sampleRate, TestAudio::maxBlockLength);
    std::atomic<bool> playing { true };
    std::thread audio ([&] {
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

INSTANTIATE_TEST_SUITE_P (Formats, HostedFormatTest, ::testing::Values (Format::vst3, Format::lv2), formatName);

//==============================================================================
TEST (Vst3HostTest, AcceptsOnlyEqualInputAndOutputCountsOfSixFiveTwoOrOne)
{
    HostedPluginLoader loader;
    juce::String error;
    auto instance = loader.createInstance (Format::vst3, sampleRate, 512, error);
    ASSERT_NE (instance, nullptr) << error;

    for (const auto& set : { Set::create5point1(), Set::create5point0(), Set::stereo(), Set::mono() })
        EXPECT_TRUE (instance->checkBusesLayoutSupported (layoutOf (set, set)) && instance->setBusesLayout (layoutOf (set, set)))
            << set.getDescription();

    EXPECT_FALSE (instance->checkBusesLayoutSupported (layoutOf (Set::stereo(), Set::create5point1())));
    EXPECT_FALSE (instance->setBusesLayout (layoutOf (Set::createLCR(), Set::createLCR())));

    // A refused layout leaves the last accepted one in place.
    EXPECT_EQ (instance->getTotalNumInputChannels() + instance->getTotalNumOutputChannels(), 2);
}
