#include <gtest/gtest.h>

#include "host/HostedPluginLoader.h"
#include "host/Vst2DirectHost.h"

#include <string>
#include <vector>

// The host saves the plug-in's state with its project and restores it into a
// fresh instance; the meter scale must survive the trip on every host path.

namespace
{
    using Format = HostedPluginLoader::Format;

    constexpr int scaleParameter = 1;

    /** The plug-in's saved block for a scale written as scaleText: the XML
        block header, the element and a closing zero byte. */
    std::vector<std::uint8_t> savedBlock (const std::string& scaleText)
    {
        const auto xml = "<MYPLUGINSETTINGS measurementScale=\"" + scaleText + "\"/>";
        const auto length = static_cast<char> (xml.size());   // always below 128 here

        const auto bytes = std::string ("\x56\x43\x32\x21", 4) + length + std::string (3, '\0')
                         + xml + '\0';
        return { bytes.begin(), bytes.end() };
    }

    /** The plug-in's own block inside an LV2 host's saved state: JUCE's LV2
        wrapper stores it as one text property in JUCE's base-64 form. */
    std::vector<std::uint8_t> pluginBlockInLv2State (const juce::MemoryBlock& hostState)
    {
        const auto text = hostState.toString();
        const auto key = juce::String (KELT_LV2_URI) + ":StateString> \"";
        const auto start = text.indexOf (key);

        if (start < 0)
            return {};

        const auto encoded = text.substring (start + key.length()).upToFirstOccurrenceOf ("\"", false, false);

        juce::MemoryBlock block;

        if (! block.fromBase64Encoding (encoded))
            return {};

        const auto* bytes = static_cast<const std::uint8_t*> (block.getData());
        return { bytes, bytes + block.getSize() };
    }

    class HostedStateRoundTrip : public ::testing::TestWithParam<Format>
    {
    protected:
        std::unique_ptr<juce::AudioPluginInstance> create()
        {
            juce::String error;
            auto instance = loader.createInstance (GetParam(), 48000.0, 512, error);
            EXPECT_NE (instance, nullptr) << error;

            if (instance != nullptr)
                instance->prepareToPlay (48000.0, 512);

            return instance;
        }

        static juce::AudioProcessorParameter* scaleOf (juce::AudioPluginInstance& instance)
        {
            const auto parameters = HostedPluginLoader::getOwnParameters (instance);
            return parameters.size() == 3 ? parameters[scaleParameter] : nullptr;
        }

        /** One block of silence: LV2 delivers parameter changes with the
            next block, as hosts do while they play. */
        static void runOneBlock (juce::AudioPluginInstance& instance)
        {
            juce::AudioBuffer<float> buffer (instance.getTotalNumInputChannels(), 512);
            juce::MidiBuffer midi;
            buffer.clear();
            instance.processBlock (buffer, midi);
        }

        HostedPluginLoader loader;
    };

    std::string formatName (const ::testing::TestParamInfo<Format>& info)
    {
        return HostedPluginLoader::getFormatName (info.param).toStdString();
    }
}

TEST_P (HostedStateRoundTrip, RestoresTheScaleIntoAFreshInstance)
{
    const auto isLv2 = GetParam() == Format::lv2;
    juce::MemoryBlock state;

    {
        auto saved = create();
        ASSERT_NE (saved, nullptr);
        ASSERT_NE (scaleOf (*saved), nullptr) << "the host sees the three parameters";

        scaleOf (*saved)->setValueNotifyingHost (0.0f);
        runOneBlock (*saved);
        saved->getStateInformation (state);
        saved->releaseResources();
    }

    auto restored = create();
    ASSERT_NE (restored, nullptr);
    auto* scale = scaleOf (*restored);
    ASSERT_NE (scale, nullptr);

    if (isLv2)
    {
        // An LV2 host knows parameter values only from its own changes and
        // the plug-in's change messages, so the plug-in's state is the
        // evidence: it is saved again after the restore.
        juce::MemoryBlock fresh;
        restored->getStateInformation (fresh);
        ASSERT_EQ (pluginBlockInLv2State (fresh), savedBlock ("18")) << "a fresh instance is on the +18 scale";

        restored->setStateInformation (state.getData(), static_cast<int> (state.getSize()));

        juce::MemoryBlock again;
        restored->getStateInformation (again);
        EXPECT_EQ (pluginBlockInLv2State (again), savedBlock ("9"));
    }
    else
    {
        ASSERT_FLOAT_EQ (scale->getValue(), 1.0f) << "a fresh instance is on the +18 scale";

        restored->setStateInformation (state.getData(), static_cast<int> (state.getSize()));

        EXPECT_FLOAT_EQ (scale->getValue(), 0.0f);
        EXPECT_EQ (scale->getCurrentValueAsText(), "0.00");
    }

    restored->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedStateRoundTrip,
                          ::testing::Values (Format::vst3, Format::lv2), formatName);

//==============================================================================
TEST (Vst2StateRoundTrip, ChunkHoldsOnlyTheScaleAndRestoresIt)
{
    const auto expected = savedBlock ("9");
    ASSERT_EQ (expected.size(), 49u);

    std::vector<std::uint8_t> bank, preset;

    {
        Vst2DirectHost saved (KELT_VST2_BINARY);
        ASSERT_TRUE (saved.isLoaded()) << saved.getError();

        auto& effect = saved.getEffect();
        effect.setParameter (&effect, scaleParameter, 0.0f);

        bank = saved.getChunk (false);
        preset = saved.getChunk (true);
    }

    // Bank and program chunks are the same block.
    EXPECT_EQ (bank, expected);
    EXPECT_EQ (preset, expected);

    for (const auto asPreset : { false, true })
    {
        Vst2DirectHost restored (KELT_VST2_BINARY);
        ASSERT_TRUE (restored.isLoaded()) << restored.getError();

        auto& effect = restored.getEffect();
        ASSERT_FLOAT_EQ (effect.getParameter (&effect, scaleParameter), 1.0f);

        restored.setChunk (asPreset ? preset : bank, asPreset);
        EXPECT_FLOAT_EQ (effect.getParameter (&effect, scaleParameter), 0.0f) << (asPreset ? "program" : "bank");
        EXPECT_EQ (restored.getString (effGetParamDisplay, scaleParameter), "0.00");
    }
}
