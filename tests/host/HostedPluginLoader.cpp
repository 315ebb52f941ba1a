#include "host/HostedPluginLoader.h"

#include <cstdlib>
#include <filesystem>

namespace
{
    namespace fs = std::filesystem;

    /** A temporary HOME holding .lv2/<bundle> as a link to the built bundle,
        removed (the link, never the bundle) when the process ends. */
    struct ScratchHome
    {
        ScratchHome()
        {
            auto pattern = (fs::temp_directory_path() / "KeltHostTests.XXXXXX").string();

            if (mkdtemp (pattern.data()) == nullptr)
                return;

            folder = pattern;
            const fs::path bundle (KELT_LV2_BUNDLE);
            std::error_code ec;
            fs::create_directory (folder / ".lv2", ec);
            fs::create_directory_symlink (bundle, folder / ".lv2" / bundle.filename(), ec);
            setenv ("HOME", folder.c_str(), 1); // before any format exists: JUCE's LV2 hosting reads it once
        }

        ~ScratchHome()
        {
            std::error_code ec;
            fs::remove_all (folder, ec); // an empty path removes nothing
        }

        fs::path folder;
    };
}

HostedPluginLoader::HostedPluginLoader()
{
    static ScratchHome home;
    formatManager.addFormat (new juce::VST3PluginFormat());
    formatManager.addFormat (new juce::LV2PluginFormat());
}

juce::Array<juce::AudioProcessorParameter*> HostedPluginLoader::getOwnParameters (juce::AudioPluginInstance& instance)
{
    auto result = instance.getParameters();
    result.removeFirstMatchingValue (instance.getBypassParameter());
    return result;
}

std::unique_ptr<juce::PluginDescription> HostedPluginLoader::findDescription (Format format)
{
    // LV2 plug-ins are looked up by URI; the VST3 scan takes the bundle, three
    // folders above the binary (<bundle>.vst3/Contents/<arch>/<binary>.so).
    const auto target = format == Format::lv2 ? juce::String (KELT_LV2_URI) : juce::File (KELT_VST3_BINARY).getParentDirectory().getParentDirectory().getParentDirectory().getFullPathName();
    juce::OwnedArray<juce::PluginDescription> found;
    formatManager.getFormat (format == Format::vst3 ? 0 : 1)->findAllTypesForFile (found, target);
    return std::unique_ptr<juce::PluginDescription> (found.isEmpty() ? nullptr : found.removeAndReturn (0));
}

std::unique_ptr<juce::AudioPluginInstance> HostedPluginLoader::createInstance (Format format, double sampleRate, int blockSize, juce::String& error)
{
    if (const auto description = findDescription (format))
        return formatManager.createPluginInstance (*description, sampleRate, blockSize, error);

    error = format == Format::vst3 ? "the VST3 scan found no plug-in" : "the LV2 scan found no plug-in";
    return nullptr;
}
