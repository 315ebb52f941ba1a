#include <gtest/gtest.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include <pluginterfaces/vst2.x/aeffectx.h>

#include "support/DesktopAtoms.h"
#include "support/TestAudio.h"

#include <dlfcn.h>

#include <atomic>
#include <thread>

// The built VST3, LV2 and VST 2 binaries, loaded as a host application loads
// them: VST3 and LV2 through JUCE's hosting, VST 2 through its entry point
// and dispatcher (JUCE 7.0.5's VST 2 hosting overruns the speaker array of
// the interface headers we build with).

namespace
{
    /** One loaded plug-in, driven as a host of its format drives it;
        parameters by index. */
    struct Plugin
    {
        explicit Plugin (const std::string& format)
        {
            if (format == "VST2")
            {
                library.reset (dlopen (KELT_VST2_BINARY, RTLD_NOW | RTLD_LOCAL));
                auto* entry = library != nullptr ? dlsym (library.get(), "VSTPluginMain") : nullptr;
                // The plug-in asks for the host's version; a host may leave the rest unanswered.
                effect.reset (entry != nullptr ? reinterpret_cast<AEffect* (*) (audioMasterCallback)> (entry) ([] (AEffect*, int opcode, int, VstIntPtr, void*, float) -> VstIntPtr { return opcode == audioMasterVersion ? kVstVersion : 0; }) : nullptr);

                if (effect != nullptr)
                    dispatch (effOpen);

                return;
            }

            // The VST3 scan takes the bundle, three folders above the binary;
            // LV2 plug-ins are found by URI once the bundle's folder is loaded
            // (after the standard folders, which hold no copy of it: see main).
            pluginFormat.reset (format == "VST3" ? (juce::AudioPluginFormat*) new juce::VST3PluginFormat() : new juce::LV2PluginFormat());

            if (format == "LV2")
                pluginFormat->searchPathsForPlugins (juce::FileSearchPath (juce::File (KELT_LV2_BUNDLE).getParentDirectory().getFullPathName()), false);

            juce::OwnedArray<juce::PluginDescription> found;
            pluginFormat->findAllTypesForFile (found, format == "VST3" ? juce::File (KELT_VST3_BINARY).getParentDirectory().getParentDirectory().getParentDirectory().getFullPathName() : KELT_LV2_URI);
            instance = found.isEmpty() ? nullptr : pluginFormat->createInstanceFromDescription (*found[0], 48000.0, 512, error);
        }

        VstIntPtr dispatch (int opcode, int index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) { return effect->dispatcher (effect.get(), opcode, index, value, ptr, opt); }

        /** Into a roomy buffer, so that an overlong answer shows instead of corrupting memory. */
        std::string getString (int opcode, int index = 0)
        {
            std::string text (512, '\0');
            dispatch (opcode, index, 0, text.data());
            return text.c_str();
        }

        // The plug-in's own, past a bypass parameter that the LV2 wrapper lists first.
        juce::AudioProcessorParameter& parameter (int index) const { return *instance->getParameters().getUnchecked (instance->getParameters().indexOf (instance->getBypassParameter()) == 0 ? index + 1 : index); }

        std::string getParameterName (int index) { return effect != nullptr ? getString (effGetParamName, index) : parameter (index).getName (100).toStdString(); }
        void setParameter (int index, float value) const { effect != nullptr ? effect->setParameter (effect.get(), index, value) : parameter (index).setValueNotifyingHost (value); }

        void prepare (double rate, int length)
        {
            if (effect == nullptr)
                return instance->prepareToPlay (rate, length);

            dispatch (effMainsChanged, 0, 0);
            dispatch (effSetSampleRate, 0, 0, nullptr, (float) rate);
            dispatch (effSetBlockSize, 0, length);
            dispatch (effMainsChanged, 0, 1);
        }

        void process (juce::AudioBuffer<float>& buffer)
        {
            juce::MidiBuffer midi;

            if (effect == nullptr)
                return instance->processBlock (buffer, midi);

            // VST 2 hosts give separate outputs as often as they process in
            // place; the interface predates const.
            juce::AudioBuffer<float> input (buffer);

            if (! (inPlace = ! inPlace))
                buffer.clear();

            effect->processReplacing (effect.get(), const_cast<float**> ((inPlace ? buffer : input).getArrayOfWritePointers()), const_cast<float**> (buffer.getArrayOfWritePointers()), buffer.getNumSamples());
        }

        /** The whole bank, for VST 2. */
        juce::MemoryBlock getState()
        {
            juce::MemoryBlock state;
            void* chunk = nullptr;
            const auto size = effect != nullptr ? dispatch (effGetChunk, 0, 0, &chunk) : 0;
            effect != nullptr ? state.append (chunk, (size_t) std::max (size, (VstIntPtr) 0)) : instance->getStateInformation (state);
            return state;
        }

        void setState (juce::MemoryBlock state) { effect != nullptr ? (void) dispatch (effSetChunk, 0, (VstIntPtr) state.getSize(), state.getData()) : instance->setStateInformation (state.getData(), (int) state.getSize()); }

        /** Puts the limit at -12 dBTP, opens the editor (a VST 2 one in a
            window of ours, with the idle calls a host gives), lets it run
            until it shows at its fixed size with the -1 dBTP limit that every
            opening sets, or the time is up, and closes it. */
        void openEditor()
        {
            setParameter (2, 0.0f);
            juce::MessageManager::getInstance()->runDispatchLoopUntil (100); // LV2 delivers the host's values with the next blocks
            std::unique_ptr<juce::Component> editor (effect != nullptr ? new juce::Component() : instance->createEditorIfNeeded());

            ASSERT_NE (editor, nullptr);

            editor->addToDesktop (0);
            editor->setVisible (true);

            if (effect != nullptr)
                dispatch (effEditOpen, 0, 0, editor->getPeer()->getNativeHandle());

            // A hosted view reports its size only once the message loop has run.
            const auto shown = [&] { return (effect != nullptr ? effect->getParameter (effect.get(), 2) : parameter (2).getValue()) == 1.0f && (effect != nullptr || editor->getLocalBounds() == juce::Rectangle<int> (249, 502)); };

            for (int i = 0; i < 100 && ! shown(); ++i)
            {
                if (effect != nullptr)
                    dispatch (effEditIdle);

                juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
            }

            // JUCE 7.0.5's XEmbedComponent, which holds a hosted view, posts its
            // resize handling with a plain pointer to itself: let that run first.
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
            EXPECT_TRUE (shown()) << editor->getLocalBounds().toString();

            if (effect != nullptr)
                dispatch (effEditClose);
        }

        std::unique_ptr<juce::AudioPluginFormat> pluginFormat;
        std::unique_ptr<juce::AudioPluginInstance> instance;
        std::unique_ptr<void, int (*) (void*)> library { nullptr, dlclose }; // closed after the effect
        // Closed before its library is; some hosts close without suspending first.
        std::unique_ptr<AEffect, void (*) (AEffect*)> effect { nullptr, [] (AEffect* e) { e->dispatcher (e, effClose, 0, 0, nullptr, 0.0f); } };
        juce::String error { "not loaded: " };
        bool inPlace = false;
    };

    using HostedFormatTest = ::testing::TestWithParam<std::string>;
}

// A host session: the host reads what the plug-in is, plays it, opens its
// editor while it plays, restores its settings into a fresh instance and asks
// that one for other channel layouts.
TEST_P (HostedFormatTest, AnswersPlaysShowsItsEditorRestoresItsSettingsAndTakesOnlyItsLayouts)
{
    auto plugin = std::make_unique<Plugin> (GetParam());
    ASSERT_TRUE (plugin->effect != nullptr || plugin->instance != nullptr) << plugin->error << dlerror();
    EXPECT_EQ (plugin->effect != nullptr ? plugin->getString (effGetEffectName) : plugin->instance->getName().toStdString(), "Kelt5.1 LE");
    EXPECT_EQ (plugin->effect != nullptr ? plugin->effect->initialDelay : plugin->instance->getLatencySamples(), 0); // nothing for the host to compensate

    // VST 2 hosts get at most 15 bytes of a name and 23 of a value text; host
    // values pass unchecked, so this one's text is 35 bytes.
    EXPECT_EQ (plugin->getParameterName (0) + "|" + plugin->getParameterName (1) + "|" + plugin->getParameterName (2), GetParam() == "VST2" ? "Host Playstate|Measurement Sca|TruePeak Max Le" : "Host Playstate|Measurement Scale|TruePeak Max Level");

    if (plugin->effect != nullptr)
    {
        plugin->setParameter (1, -1.0e30f);
        EXPECT_EQ (plugin->getString (effGetParamDisplay, 1), "-1000000015047466219876");
        EXPECT_EQ (plugin->dispatch (effGetVendorVersion), 101); // version 1.0.1 as VST 2 hosts read it
    }

    // LV2 hosts read the maker's mailbox, which must be a URI, from the bundle.
    EXPECT_TRUE (GetParam() != "LV2" || juce::File (KELT_LV2_BUNDLE).getChildFile ("dsp.ttl").loadFileAsString().contains ("foaf:mbox <mailto:contact@vesk-audio.example> ;"));

    // The layout it starts on, which a host may keep without asking: VST3
    // starts on stereo, the common track, the others on 5.1.
    const auto channels = plugin->effect != nullptr ? plugin->effect->numInputs : plugin->instance->getTotalNumInputChannels();
    ASSERT_EQ (channels, GetParam() == "VST3" ? 2 : 6);

    // Noise with not-a-number, infinities and denormals in it, in odd block lengths.
    const float hostile[] = { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 1.0e-40f, -1.0e-40f };
    juce::Random random (1);
    juce::AudioBuffer<float> buffer, input;

    const auto passesUntouched = [&] (int numChannels, int length) {
        buffer.setSize (numChannels, length);
        TestAudio::fillWithNoise (buffer, random);

        for (int i = 0; i < 5; ++i)
            buffer.setSample (i % numChannels, i % length, hostile[i]);

        input.makeCopyOf (buffer);
        plugin->process (buffer);
        return TestAudio::sameBits (buffer, input);
    };

    for (auto rate : { 44100.0, 192000.0, 48000.5 })
        for (auto blockLength : { 1, 17, 4096 })
            for (auto length : { blockLength, 1, blockLength / 2 + 1 })
            {
                if (length == blockLength)
                    plugin->prepare (rate, blockLength);

                EXPECT_TRUE (passesUntouched (channels, length)) << rate << " Hz, " << length;
            }

    // Plain noise while the editor opens and closes, so that the meters move.
    TestAudio::fillWithNoise (buffer, random);
    std::atomic<bool> playing { true };
    std::thread audio ([&] {
        while (playing)
            plugin->process (buffer);
    });

    for (int opening = 0; opening < 10; ++opening)
        plugin->openEditor();

    playing = false;
    audio.join();

    // LV2 delivers parameter changes with the next block, as hosts do while they play.
    plugin->setParameter (1, 0.0f);
    plugin->process (buffer);
    const auto saved = plugin->getState();

    // A fresh instance restores before it plays, as when a host opens a project.
    plugin = std::make_unique<Plugin> (GetParam());
    EXPECT_NE (plugin->getState(), saved); // still on the default scale
    plugin->setState (saved);
    EXPECT_EQ (plugin->getState(), saved);

    // The host asks for other layouts before it plays. Mono and 5.0 are taken;
    // seven channels, and inputs and outputs of different widths, are refused
    // and the layout stays. LV2 cannot be asked: a mono or 5.0 track fills the
    // first of its six ports, which the six-channel noise above covers.
    if (GetParam() == "LV2")
        return;

    const auto request = [&] (int ins, int outs) {
        if (plugin->effect == nullptr)
        {
            plugin->instance->releaseResources();
            return plugin->instance->setBusesLayout ({ { juce::AudioChannelSet::canonicalChannelSet (ins) }, { juce::AudioChannelSet::canonicalChannelSet (outs) } });
        }

        // The interface headers leave the numbers of VST 2's surround
        // arrangements unknown, so wider ones go as user-defined.
        std::vector<char> in (sizeof (VstSpeakerArrangement) + 8 * sizeof (VstSpeakerProperties)), out (in);

        for (auto [arrangement, n] : { std::pair (reinterpret_cast<VstSpeakerArrangement*> (in.data()), ins), std::pair (reinterpret_cast<VstSpeakerArrangement*> (out.data()), outs) })
        {
            arrangement->type = n == 1 ? kSpeakerArrMono : (n == 2 ? kSpeakerArrStereo : kSpeakerArrUserDefined);
            arrangement->numChannels = n;
        }

        plugin->dispatch (effMainsChanged, 0, 0);
        return plugin->dispatch (effSetSpeakerArrangement, 0, (VstIntPtr) in.data(), out.data()) == 1;
    };

    const auto layout = [&] {
        if (plugin->effect == nullptr)
            return std::pair (plugin->instance->getTotalNumInputChannels(), plugin->instance->getTotalNumOutputChannels());

        VstSpeakerArrangement *in = nullptr, *out = nullptr;
        plugin->dispatch (effGetSpeakerArrangement, 0, (VstIntPtr) &in, &out);
        return std::pair (in->numChannels, out->numChannels);
    };

    auto kept = layout();
    const std::pair<int, int> requests[] { { 1, 1 }, { 7, 7 }, { 5, 5 }, { 2, 6 } };

    for (auto [ins, outs] : requests)
    {
        const auto taken = ins == outs && ins != 7;
        EXPECT_EQ (request (ins, outs), taken) << ins << " in, " << outs << " out";
        kept = taken ? std::pair (ins, outs) : kept;
        ASSERT_EQ (layout(), kept) << "after " << ins << " in, " << outs << " out";

        plugin->prepare (48000.0, 512);
        EXPECT_TRUE (passesUntouched (kept.first, 512)) << kept.first << " channels, after " << ins << " in, " << outs << " out";
    }
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedFormatTest, ::testing::Values ("VST3", "LV2", "VST2"), [] (const auto& format) { return format.param; });

// One GUI initialiser for the whole run, as a host application has.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    const DesktopAtoms desktopAtoms; // before any window exists, ours or a hosted plug-in's
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    // JUCE's LV2 hosting loads ~/.lv2 before the build's folder, and the first
    // copy of a plug-in wins: an installed one must not stand in for the built one.
    setenv ("HOME", "/nonexistent", 1);
    return RUN_ALL_TESTS();
}
