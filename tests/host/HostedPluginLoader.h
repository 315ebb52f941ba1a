#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

/** Finds and creates the built VST3 and LV2 plug-ins through JUCE's hosting
    formats, as a host application does.

    JUCE's LV2 hosting searches only the standard LV2 folders, so the first
    loader of a process points HOME at a scratch folder whose .lv2 folder
    links to the built bundle; the folder goes when the process ends.
*/
class HostedPluginLoader final
{
public:
    enum class Format
    {
        vst3,
        lv2
    };

    HostedPluginLoader();

    /** What the format's scan reports for the built plug-in; null when the
        scan finds nothing. */
    std::unique_ptr<juce::PluginDescription> findDescription (Format);

    /** A new instance, or null with the reason in error. */
    std::unique_ptr<juce::AudioPluginInstance> createInstance (Format, double sampleRate, int blockSize, juce::String& error);

    /** The plug-in's own parameters in host order, without the bypass
        parameter that a wrapper or a host adds of its own. */
    static juce::Array<juce::AudioProcessorParameter*> getOwnParameters (juce::AudioPluginInstance&);

private:
    juce::AudioPluginFormatManager formatManager;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HostedPluginLoader)
};
