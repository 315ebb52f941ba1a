#include <gtest/gtest.h>

#include "host/HostedPluginLoader.h"
#include "host/Vst2DirectHost.h"
#include "support/TestAudio.h"

#include <atomic>
#include <limits>
#include <thread>

// The built VST3, LV2 and VST 2 binaries, loaded as a host application loads
// them: VST3 and LV2 through JUCE's hosting, VST 2 through its dispatcher.

namespace
{
    using Format = HostedPluginLoader::Format;
    using Size = std::pair<int, int>;
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = TestAudio::maxBlockLength;

    /** One loaded plug-in, driven as a host of its format drives it;
        parameters by index. */
    struct Plugin
    {
        explicit Plugin (const std::string& format)
        {
            if (format == "VST2")
                vst2 = std::make_unique<Vst2DirectHost> (KELT_VST2_BINARY);
            else
                instance = loader.createInstance (format == "VST3" ? Format::vst3 : Format::lv2, sampleRate, blockSize, error);
        }

        bool isLoaded() const { return vst2 != nullptr ? vst2->isLoaded() : instance != nullptr; }
        AEffect& effect() const { return vst2->getEffect(); }
        juce::AudioProcessorParameter& own (int index) const { return *HostedPluginLoader::getOwnParameters (*instance).getUnchecked (index); }
        int getNumChannels() const { return vst2 != nullptr ? effect().numInputs : instance->getTotalNumInputChannels(); }
        void prepare (double rate, int length) const { vst2 != nullptr ? vst2->prepare (rate, length) : instance->prepareToPlay (rate, length); }
        float getParameter (int index) const { return vst2 != nullptr ? effect().getParameter (&effect(), index) : own (index).getValue(); }
        void setParameter (int index, float value) const { vst2 != nullptr ? effect().setParameter (&effect(), index, value) : own (index).setValueNotifyingHost (value); }

        /** VST 2 and LV2 start on 5.1, the layout their ports are fixed at. */
        bool useFivePointOne() const
        {
            if (vst2 != nullptr)
                return getNumChannels() == 6 && effect().numOutputs == 6;

            juce::AudioProcessor::BusesLayout layout;
            layout.inputBuses.add (juce::AudioChannelSet::create5point1());
            layout.outputBuses.add (juce::AudioChannelSet::create5point1());
            instance->releaseResources();
            return (getNumChannels() == 6 || instance->setBusesLayout (layout)) && instance->getTotalNumOutputChannels() == 6;
        }

        void process (juce::AudioBuffer<float>& buffer)
        {
            juce::MidiBuffer midi;

            if (vst2 == nullptr)
                return instance->processBlock (buffer, midi);

            // VST 2 hosts give separate outputs as often as they process in
            // place; the interface predates const.
            auto** outputs = const_cast<float**> (buffer.getArrayOfWritePointers());
            input.makeCopyOf (buffer);

            if (! (inPlace = ! inPlace))
                buffer.clear();

            effect().processReplacing (&effect(), inPlace ? outputs : const_cast<float**> (input.getArrayOfWritePointers()), outputs, buffer.getNumSamples());
        }

        juce::MemoryBlock getState() const
        {
            juce::MemoryBlock state;
            const auto chunk = vst2 != nullptr ? vst2->getChunk (false) : std::vector<std::uint8_t>();
            vst2 != nullptr ? state.append (chunk.data(), chunk.size()) : instance->getStateInformation (state);
            return state;
        }

        void setState (const juce::MemoryBlock& state) const
        {
            vst2 != nullptr ? vst2->setChunk ({ state.begin(), state.end() }, false) : instance->setStateInformation (state.getData(), (int) state.getSize());
        }

        Size openEditor (const std::function<bool (Size)>& done) const
        {
            if (vst2 != nullptr)
                return vst2->openEditorInX11Window (2000, done);

            auto* messageManager = juce::MessageManager::getInstance();
            messageManager->runDispatchLoopUntil (100); // LV2 delivers the host's values with the next blocks
            std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());

            if (editor == nullptr)
                return {};

            editor->addToDesktop (0);
            editor->setVisible (true);

            // A hosted view may report its size only once the message loop has run.
            for (int i = 0; i < 100 && ! done ({ editor->getWidth(), editor->getHeight() }); ++i)
                messageManager->runDispatchLoopUntil (10);

            // JUCE 7.0.5's XEmbedComponent, which holds the hosted view, posts its
            // resize handling with a plain pointer to itself: let that run first.
            messageManager->runDispatchLoopUntil (50);
            return { editor->getWidth(), editor->getHeight() }; // deleted on the desktop, as a host closes it
        }

        HostedPluginLoader loader;
        juce::String error;
        std::unique_ptr<juce::AudioPluginInstance> instance;
        std::unique_ptr<Vst2DirectHost> vst2;
        juce::AudioBuffer<float> input;
        bool inPlace = false;
    };

    class HostedFormatTest : public ::testing::TestWithParam<std::string>
    {
    protected:
        void SetUp() override { ASSERT_TRUE (plugin->isLoaded()) << plugin->error << (plugin->vst2 != nullptr ? plugin->vst2->getError() : ""); }

        std::unique_ptr<Plugin> plugin = std::make_unique<Plugin> (GetParam());
    };
}

TEST_P (HostedFormatTest, PassesAudioThroughUnchanged)
{
    juce::Random random (1);
    juce::AudioBuffer<float> buffer, input;
    const auto passesUnchanged = [&] {
        input.makeCopyOf (buffer);
        plugin->process (buffer);
        return TestAudio::sameBits (buffer, input);
    };

    // First the starting layout, which a host may keep without asking: VST3
    // starts on stereo, the common track, the others on 5.1.
    for (const auto surround : { false, true })
    {
        ASSERT_TRUE (! surround || plugin->useFivePointOne());
        const auto channels = plugin->getNumChannels();
        EXPECT_EQ (channels, surround || GetParam() != "VST3" ? 6 : 2);

        for (auto rate : { 44100.0, 96000.0, 192000.0, 48000.5 })
            for (auto blockLength : { 1, 17, 4096 })
                for (auto length : { 0, blockLength, 1, blockLength / 2 + 1 })
                {
                    if (length == 0)
                        plugin->prepare (rate, blockLength);

                    buffer.setSize (channels, length);
                    TestAudio::fillWithNoise (buffer, random);
                    EXPECT_TRUE (passesUnchanged()) << channels << " channels, " << rate << " Hz, " << length;
                }
    }

    // Not-a-number, infinities and denormals pass bit for bit too, past a 400 ms window.
    plugin->prepare (sampleRate, blockSize);
    buffer.setSize (plugin->getNumChannels(), blockSize);

    for (int block = 0; block < 50; ++block)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, i % 97 == 0 ? std::numeric_limits<float>::quiet_NaN() : i % 50 == 0 ? (c % 2 == 0 ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity()
                                                                                                            : (float) (c - 3) * 1.0e-40f);

        ASSERT_TRUE (passesUnchanged()) << block;
    }
}

TEST_P (HostedFormatTest, RestoresItsSettingsByteForByteIntoAFreshInstance)
{
    plugin->prepare (sampleRate, blockSize);
    plugin->setParameter (1, 0.0f);

    // LV2 delivers parameter changes with the next block, as hosts do while they play.
    juce::AudioBuffer<float> silence (plugin->getNumChannels(), blockSize);
    silence.clear();
    plugin->process (silence);
    const auto saved = plugin->getState();

    plugin = std::make_unique<Plugin> (GetParam());
    plugin->prepare (sampleRate, blockSize);
    EXPECT_NE (plugin->getState(), saved); // still on the default scale
    plugin->setState (saved);
    EXPECT_EQ (plugin->getState(), saved);
}

TEST_P (HostedFormatTest, EditorOpensAtItsFixedSizeAndSetsTheLimitWhileAudioRuns)
{
    plugin->prepare (sampleRate, blockSize);
    std::atomic<bool> playing { true };
    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (plugin->getNumChannels(), blockSize);
        juce::Random random (1);

        while (playing)
        {
            TestAudio::fillWithNoise (buffer, random);
            plugin->process (buffer);
        }
    });

    for (int opening = 0; opening < 30; ++opening)
    {
        plugin->setParameter (2, 0.0f);
        EXPECT_EQ (plugin->openEditor ([&] (Size shown) { return shown == Size (249, 502) && plugin->getParameter (2) == 1.0f; }), Size (249, 502));
        EXPECT_EQ (plugin->getParameter (2), 1.0f) << "the -1 dBTP limit, opening " << opening;
    }

    playing = false;
    audio.join();
}

TEST_P (HostedFormatTest, AnswersWithItsIdentity)
{
    if (plugin->vst2 != nullptr)
    {
        auto& host = *plugin->vst2;
        auto& effect = host.getEffect();
        EXPECT_EQ (effect.uniqueID, CCONST ('Z', 'u', 'n', 'o'));
        EXPECT_EQ (effect.numParams * 10 + effect.initialDelay, 30); // no latency for the host to compensate
        EXPECT_EQ (effect.numInputs * 10 + effect.numOutputs, 66);
        EXPECT_EQ (effect.flags & (effFlagsHasEditor | effFlagsCanReplacing | effFlagsProgramChunks | effFlagsIsSynth), effFlagsHasEditor | effFlagsCanReplacing | effFlagsProgramChunks);
        EXPECT_EQ (host.getString (effGetEffectName) + "|" + host.getString (effGetProductString), "Kelt5.1 LE|Kelt5.1 LE");
        EXPECT_NE (host.getString (effGetVendorString), "");
        EXPECT_EQ (host.dispatch (effGetPlugCategory), kPlugCategEffect);
        EXPECT_EQ (host.dispatch (effGetVendorVersion) * 1000 + effect.version, 101101);

        ERect* rect = nullptr; // hosts size their window from it before opening the editor
        host.dispatch (effEditGetRect, 0, 0, &rect);
        ASSERT_NE (rect, nullptr);
        EXPECT_EQ (Size (rect->right - rect->left, rect->bottom - rect->top), Size (249, 502));

        // VST 2 hosts get at most 15 bytes of a name and 23 of a value text.
        EXPECT_EQ (host.getString (effGetParamName, 0) + "|" + host.getString (effGetParamName, 1) + "|" + host.getString (effGetParamName, 2), "Host Playstate|Measurement Sca|TruePeak Max Le");
        EXPECT_EQ (host.getString (effGetParamDisplay, 0) + host.getString (effGetParamDisplay, 1), "0.001.00");
        effect.setParameter (&effect, 1, -1.0e30f); // host values pass unchecked
        const auto fullText = juce::String ((double) effect.getParameter (&effect, 1), 2);
        ASSERT_GT (fullText.length(), 23);
        EXPECT_EQ (host.getString (effGetParamDisplay, 1), fullText.substring (0, 23).toStdString());

        // The chunk, bank or program, holds only the scale.
        effect.setParameter (&effect, 1, 0.0f);
        const auto bank = host.getChunk (false);
        ASSERT_GT (bank.size(), 8u);
        EXPECT_EQ (std::string (bank.begin() + 8, bank.end()), std::string ("<MYPLUGINSETTINGS measurementScale=\"9\"/>") + '\0');
        EXPECT_EQ (host.getChunk (true), bank);
        return;
    }

    const auto format = GetParam() == "VST3" ? Format::vst3 : Format::lv2;
    const auto description = plugin->loader.findDescription (format);
    const auto& instance = plugin->instance;
    ASSERT_NE (description, nullptr);

    EXPECT_EQ (description->name + "|" + instance->getName(), "Kelt5.1 LE|Kelt5.1 LE");
    EXPECT_FALSE (description->isInstrument || instance->acceptsMidi() || instance->producesMidi());
    EXPECT_TRUE (instance->hasEditor() && instance->getLatencySamples() == 0);
    EXPECT_EQ (instance->getTotalNumInputChannels() * 10 + instance->getTotalNumOutputChannels(), format == Format::vst3 ? 22 : 66);

    const auto parameters = HostedPluginLoader::getOwnParameters (*instance);
    ASSERT_EQ (parameters.size(), 3);
    EXPECT_EQ (parameters[0]->getName (100) + "|" + parameters[1]->getName (100) + "|" + parameters[2]->getName (100), "Host Playstate|Measurement Scale|TruePeak Max Level");

    // LV2 hosts format values themselves, so texts are checked where the plug-in answers.
    if (format == Format::vst3)
    {
        EXPECT_TRUE (description->version == "1.0.1" && description->category.contains ("Fx")) << description->category;
        EXPECT_EQ (parameters[0]->getCurrentValueAsText() + parameters[1]->getCurrentValueAsText(), "0.001.00");
        parameters[1]->setValueNotifyingHost (0.0f);
        EXPECT_EQ (parameters[1]->getCurrentValueAsText(), "0.00");
    }

    // JUCE's LV2 scan leaves the version out; LV2 hosts read it from the bundle.
    const auto dsp = juce::File (KELT_LV2_BUNDLE).getChildFile ("dsp.ttl").loadFileAsString();
    EXPECT_TRUE (format == Format::vst3 || (dsp.contains ("doap:revision \"1.0.1\"") && dsp.contains ("foaf:mbox <mailto:contact@vesk-audio.example> ;")));
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedFormatTest, ::testing::Values ("VST3", "LV2", "VST2"), [] (const auto& format) { return format.param; });
