#pragma once

#include <juce_core/juce_core.h>

#include <pluginterfaces/vst2.x/aeffectx.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

/** A minimal VST 2 host: opens the plug-in's shared object, creates one
    effect through VSTPluginMain and drives it through its dispatcher, the
    way a host application does, all on the thread that created it.
*/
class Vst2DirectHost final
{
public:
    /** Loads the library and creates and opens the effect. Check isLoaded(). */
    explicit Vst2DirectHost (const std::string& libraryPath);
    ~Vst2DirectHost();

    bool isLoaded() const noexcept { return effect != nullptr; }
    const std::string& getError() const noexcept { return error; }
    AEffect& getEffect() const noexcept { return *effect; }

    VstIntPtr dispatch (int opcode, int index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) { return effect->dispatcher (effect, opcode, index, value, ptr, opt); }

    /** A string query into a roomy buffer, so an overlong answer shows
        instead of corrupting memory. */
    std::string getString (int opcode, int index = 0);

    /** Suspends, sets rate and block size and resumes, as a host does. */
    void prepare (double sampleRate, int blockSize);

    /** The whole bank (preset false) or the current program (preset true). */
    std::vector<std::uint8_t> getChunk (bool preset);
    void setChunk (std::vector<std::uint8_t> chunk, bool preset);

    /** Opens the editor in an X11 window of our own and runs effEditIdle
        until done() holds for the width and height of the plug-in's window
        inside ours (zero until it shows) or the time is up; then closes it
        and returns that size. */
    std::pair<int, int> openEditorInX11Window (int timeoutMs, const std::function<bool (std::pair<int, int>)>& done);

private:
    void* library = nullptr;
    AEffect* effect = nullptr;
    std::string error;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Vst2DirectHost)
};
