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

            // Before any format exists: JUCE's LV2 hosting reads its search
            // path when it is created.
            setenv ("HOME", folder.c_str(), 1);
        }

        ~ScratchHome()
        {
            std::error_code ec;

            if (! folder.empty())
                fs::remove_all (folder, ec);
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

juce::String HostedPluginLoader::getFormatName (Format format)
{
    return format == Format::vst3 ? "VST3" : "LV2";
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
    const auto target = format == Format::lv2 ? juce::String (KELT_LV2_URI)
                                              : juce::File (KELT_VST3_BINARY).getParentDirectory().getParentDirectory().getParentDirectory().getFullPathName();

    for (auto* pluginFormat : formatManager.getFormats())
    {
        juce::OwnedArray<juce::PluginDescription> found;

        if (pluginFormat->getName() == getFormatName (format))
            pluginFormat->findAllTypesForFile (found, target);

        if (! found.isEmpty())
            return std::unique_ptr<juce::PluginDescription> (found.removeAndReturn (0));
    }

    return nullptr;
}

std::unique_ptr<juce::AudioPluginInstance> HostedPluginLoader::createInstance (Format format, double sampleRate,
                                                                               int blockSize, juce::String& error)
{
    if (const auto description = findDescription (format))
        return formatManager.createPluginInstance (*description, sampleRate, blockSize, error);

    error = "the " + getFormatName (format) + " scan found no plug-in";
    return nullptr;
}
