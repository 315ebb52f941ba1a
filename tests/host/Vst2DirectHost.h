#pragma once

#include <juce_core/juce_core.h>

#include <pluginterfaces/vst2.x/aeffectx.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/** A minimal VST 2 host: opens the plug-in's shared object, creates one
    effect through VSTPluginMain and drives it through its dispatcher, the
    way a host application does.

    Each object holds its own effect; several may share the loaded library.
    All calls are made on the thread that created the object, which is the
    plug-in's message thread as far as it can tell.
*/
class Vst2DirectHost final
{
public:
    /** Loads the library and creates and opens the effect. Check isLoaded(). */
    explicit Vst2DirectHost (const std::string& libraryPath);

    /** Closes the editor and the effect and releases the library. */
    ~Vst2DirectHost();

    bool isLoaded() const noexcept { return effect != nullptr; }
    const std::string& getError() const noexcept { return error; }
    AEffect& getEffect() const noexcept { return *effect; }

    VstIntPtr dispatch (int opcode, int index = 0, VstIntPtr value = 0,
                        void* ptr = nullptr, float opt = 0.0f);

    /** Runs a string query (effGetEffectName, effGetParamName, ...) into a
        roomy buffer, so an overlong answer shows instead of corrupting memory. */
    std::string getString (int opcode, int index = 0);

    //==============================================================================
    /** Sets rate and block size, as a host does while the effect is suspended.
        The values are also what the host callback reports back. */
    void setRateAndBlockSize (double sampleRate, int blockSize);

    /** Asks for numInputs in / numOutputs out through effSetSpeakerArrangement
        and returns the plug-in's answer. */
    bool setSpeakerArrangement (int numInputs, int numOutputs);

    void resume();
    void suspend();

    /** Runs processReplacing on separate input and output channel arrays. */
    void processReplacing (float* const* inputs, float* const* outputs, int numSamples);

    //==============================================================================
    /** The plug-in's chunk: the whole bank (preset false) or the current
        program (preset true). */
    std::vector<std::uint8_t> getChunk (bool preset);
    void setChunk (const std::vector<std::uint8_t>& chunk, bool preset);

    //==============================================================================
    struct EditorSize
    {
        int width = 0, height = 0;
    };

    /** The editor size from effEditGetRect; zero when there is none. */
    EditorSize getEditorRect();

    /** Opens the editor inside a new X11 window of our own, lets the plug-in
        run its event loop through effEditIdle until its window shows inside
        ours, and returns the size of that child window (zero when none came
        within the time limit), also waiting for alsoWaitFor when given. The
        editor is closed again before returning. */
    EditorSize openEditorInX11Window (int timeoutMs, const std::function<bool()>& alsoWaitFor = {});

private:
    static VstIntPtr hostCallback (AEffect*, int opcode, int index, VstIntPtr value, void* ptr, float opt);
    VstIntPtr handleHostOpcode (int opcode);

    void* library = nullptr;
    AEffect* effect = nullptr;
    std::string error;

    double sampleRate = 48000.0;
    int blockSize = 512;
    bool resumed = false;
    VstTimeInfo timeInfo {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Vst2DirectHost)
};
