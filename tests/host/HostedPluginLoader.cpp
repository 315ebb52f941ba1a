#include "host/HostedPluginLoader.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace
{
    namespace fs = std::filesystem;

    /** A temporary HOME holding .lv2/<bundle> as a link to the built bundle. */
    class ScratchHome
    {
    public:
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
            // remove_all deletes the link, never the bundle behind it.
            std::error_code ec;

            if (! folder.empty())
                fs::remove_all (folder, ec);
        }

    private:
        fs::path folder;
    };

    void useScratchHome()
    {
        static ScratchHome home;
    }

    juce::String getScanTarget (HostedPluginLoader::Format format)
    {
        // LV2 plug-ins are looked up by URI among those the format found.
        if (format == HostedPluginLoader::Format::lv2)
            return KELT_LV2_URI;

        // The VST3 scan takes the bundle: <bundle>.vst3/Contents/<arch>/<binary>.so
        return juce::File (KELT_VST3_BINARY).getParentDirectory()
                                            .getParentDirectory()
                                            .getParentDirectory()
                                            .getFullPathName();
    }
}

//==============================================================================
HostedPluginLoader::HostedPluginLoader()
{
    useScratchHome();

    formatManager.addFormat (new juce::VST3PluginFormat());
    formatManager.addFormat (new juce::LV2PluginFormat());
}

HostedPluginLoader::~HostedPluginLoader() = default;

juce::String HostedPluginLoader::getFormatName (Format format)
{
    return format == Format::vst3 ? "VST3" : "LV2";
}

juce::Array<juce::AudioProcessorParameter*> HostedPluginLoader::getOwnParameters (juce::AudioPluginInstance& instance)
{
    juce::Array<juce::AudioProcessorParameter*> result;

    for (auto* parameter : instance.getParameters())
        if (parameter != instance.getBypassParameter())
            result.add (parameter);

    return result;
}

std::unique_ptr<juce::PluginDescription> HostedPluginLoader::findDescription (Format format)
{
    for (auto* pluginFormat : formatManager.getFormats())
    {
        if (pluginFormat->getName() != getFormatName (format))
            continue;

        juce::OwnedArray<juce::PluginDescription> found;
        pluginFormat->findAllTypesForFile (found, getScanTarget (format));

        if (! found.isEmpty())
            return std::unique_ptr<juce::PluginDescription> (found.removeAndReturn (0));
    }

    return nullptr;
}

std::unique_ptr<juce::AudioPluginInstance> HostedPluginLoader::createInstance (Format format, double sampleRate,
                                                                              int blockSize, juce::String& error)
{
    const auto description = findDescription (format);

    if (description == nullptr)
    {
        error = "the " + getFormatName (format) + " scan found no plug-in";
        return nullptr;
    }

    return formatManager.createPluginInstance (*description, sampleRate, blockSize, error);
}
