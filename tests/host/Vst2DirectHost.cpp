#include "host/Vst2DirectHost.h"

#include <X11/Xlib.h>

#include <dlfcn.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>

namespace
{
    using PluginMain = AEffect* (*) (audioMasterCallback);

    // The effect is unknown while VSTPluginMain runs, yet the plug-in
    // already calls back (it asks for the host version first).
    thread_local Vst2DirectHost* hostBeingCreated = nullptr;

    /** A speaker arrangement with room for its open-ended speaker array. */
    class SpeakerArrangementBlock
    {
    public:
        explicit SpeakerArrangementBlock (int numChannels)
            : storage (wordsFor (sizeof (VstSpeakerArrangement)
                                   + static_cast<size_t> (numChannels) * sizeof (VstSpeakerProperties)))
        {
            auto& arrangement = get();
            arrangement.type = arrangementType (numChannels);
            arrangement.numChannels = numChannels;

            for (int i = 0; i < numChannels; ++i)
                arrangement.speakers[i].type = speakerType (numChannels, i);
        }

        VstSpeakerArrangement& get() noexcept
        {
            return *reinterpret_cast<VstSpeakerArrangement*> (storage.data());
        }

    private:
        static size_t wordsFor (size_t bytes)
        {
            return (bytes + sizeof (std::max_align_t) - 1) / sizeof (std::max_align_t);
        }

        // Several of these names are marked unknown in the fst headers, but
        // the wrapper was built against the same values.
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
        static int arrangementType (int numChannels)
        {
            switch (numChannels)
            {
                case 1:  return kSpeakerArrMono;
                case 2:  return kSpeakerArrStereo;
                case 3:  return kSpeakerArr30Cine;
                case 5:  return kSpeakerArr50;
                case 6:  return kSpeakerArr51;
                default: return kSpeakerArrUserDefined;
            }
        }

        static int speakerType (int numChannels, int index)
        {
            if (numChannels == 1)
                return kSpeakerM;

            // L, R, C, LFE, Ls, Rs; 5.0 leaves out the LFE.
            const int order51[] = { kSpeakerL, kSpeakerR, kSpeakerC, kSpeakerLfe, kSpeakerLs, kSpeakerRs };
            const int order50[] = { kSpeakerL, kSpeakerR, kSpeakerC, kSpeakerLs, kSpeakerRs };

            if (numChannels == 5)
                return order50[index];

            return index < 6 ? order51[index] : kSpeakerUndefined;
        }
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE

        // Zeroed, and aligned for the struct.
        std::vector<std::max_align_t> storage;
    };
}

//==============================================================================
Vst2DirectHost::Vst2DirectHost (const std::string& libraryPath)
{
    library = dlopen (libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);

    if (library == nullptr)
    {
        const auto* reason = dlerror();
        error = "dlopen failed: " + std::string (reason != nullptr ? reason : "unknown reason");
        return;
    }

    auto* entry = dlsym (library, "VSTPluginMain");

    if (entry == nullptr)
    {
        error = "no VSTPluginMain";
        return;
    }

    hostBeingCreated = this;
    auto* created = reinterpret_cast<PluginMain> (entry) (hostCallback);
    hostBeingCreated = nullptr;

    if (created == nullptr || created->magic != kEffectMagic)
    {
        error = "VSTPluginMain gave no effect";
        return;
    }

    effect = created;
    effect->resvd1 = reinterpret_cast<VstIntPtr> (this);
    dispatch (effOpen);
}

Vst2DirectHost::~Vst2DirectHost()
{
    if (effect != nullptr)
    {
        if (resumed)
            suspend();

        // effClose deletes the plug-in instance.
        dispatch (effClose);
        effect = nullptr;
    }

    if (library != nullptr)
        dlclose (library);
}

//==============================================================================
VstIntPtr Vst2DirectHost::dispatch (int opcode, int index, VstIntPtr value, void* ptr, float opt)
{
    return effect->dispatcher (effect, opcode, index, value, ptr, opt);
}

std::string Vst2DirectHost::getString (int opcode, int index)
{
    // Far beyond any limit the interface names; the tail stays zero.
    char buffer[512] = {};
    dispatch (opcode, index, 0, buffer);
    buffer[sizeof (buffer) - 1] = 0;
    return buffer;
}

void Vst2DirectHost::setRateAndBlockSize (double newSampleRate, int newBlockSize)
{
    sampleRate = newSampleRate;
    blockSize = newBlockSize;
    dispatch (effSetSampleRate, 0, 0, nullptr, static_cast<float> (newSampleRate));
    dispatch (effSetBlockSize, 0, newBlockSize);
}

bool Vst2DirectHost::setSpeakerArrangement (int numInputs, int numOutputs)
{
    SpeakerArrangementBlock in (numInputs), out (numOutputs);
    return dispatch (effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr> (&in.get()), &out.get()) != 0;
}

void Vst2DirectHost::resume()
{
    dispatch (effMainsChanged, 0, 1);
    resumed = true;
}

void Vst2DirectHost::suspend()
{
    dispatch (effMainsChanged, 0, 0);
    resumed = false;
}

void Vst2DirectHost::processReplacing (float* const* inputs, float* const* outputs, int numSamples)
{
    // The interface predates const; the plug-in leaves the pointer arrays alone.
    effect->processReplacing (effect, const_cast<float**> (inputs), const_cast<float**> (outputs), numSamples);
    timeInfo.samplePos += numSamples;
}

//==============================================================================
std::vector<std::uint8_t> Vst2DirectHost::getChunk (bool preset)
{
    void* data = nullptr;
    const auto size = dispatch (effGetChunk, preset ? 1 : 0, 0, &data);

    if (data == nullptr || size <= 0)
        return {};

    const auto* bytes = static_cast<const std::uint8_t*> (data);
    return { bytes, bytes + size };
}

void Vst2DirectHost::setChunk (const std::vector<std::uint8_t>& chunk, bool preset)
{
    // The interface takes a writable pointer, so the plug-in gets a copy.
    auto copy = chunk;
    dispatch (effSetChunk, preset ? 1 : 0, static_cast<VstIntPtr> (copy.size()), copy.data());
}

//==============================================================================
Vst2DirectHost::EditorSize Vst2DirectHost::getEditorRect()
{
    ERect* rect = nullptr;
    dispatch (effEditGetRect, 0, 0, &rect);

    if (rect == nullptr)
        return {};

    return { rect->right - rect->left, rect->bottom - rect->top };
}

Vst2DirectHost::EditorSize Vst2DirectHost::openEditorInX11Window (int timeoutMs, const std::function<bool()>& alsoWaitFor)
{
    std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (nullptr), XCloseDisplay);

    if (display == nullptr)
        return {};

    const auto screen = DefaultScreen (display.get());
    const auto parent = XCreateSimpleWindow (display.get(), RootWindow (display.get(), screen),
                                             0, 0, 400, 600, 0,
                                             BlackPixel (display.get(), screen),
                                             BlackPixel (display.get(), screen));
    XMapWindow (display.get(), parent);
    XSync (display.get(), False);

    EditorSize size;

    if (dispatch (effEditOpen, 0, 0, reinterpret_cast<void*> (parent)) != 0)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

        const auto done = [&] { return size.width != 0 && (! alsoWaitFor || alsoWaitFor()); };

        while (! done() && std::chrono::steady_clock::now() < deadline)
        {
            dispatch (effEditIdle);
            XSync (display.get(), False);

            Window root = 0, parentOfParent = 0;
            Window* children = nullptr;
            unsigned int numChildren = 0;

            if (XQueryTree (display.get(), parent, &root, &parentOfParent, &children, &numChildren) != 0)
            {
                if (numChildren > 0)
                {
                    XWindowAttributes attributes {};

                    if (XGetWindowAttributes (display.get(), children[0], &attributes) != 0)
                        size = { attributes.width, attributes.height };
                }

                if (children != nullptr)
                    XFree (children);
            }

            if (! done())
                std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }

        dispatch (effEditClose);
    }

    XDestroyWindow (display.get(), parent);
    XSync (display.get(), False);
    return size;
}

//==============================================================================
VstIntPtr Vst2DirectHost::hostCallback (AEffect* fromEffect, int opcode, int, VstIntPtr, void*, float)
{
    auto* host = hostBeingCreated;

    if (fromEffect != nullptr && fromEffect->resvd1 != 0)
        host = reinterpret_cast<Vst2DirectHost*> (fromEffect->resvd1);

    if (opcode == audioMasterVersion)
        return kVstVersion;

    return host != nullptr ? host->handleHostOpcode (opcode) : 0;
}

VstIntPtr Vst2DirectHost::handleHostOpcode (int opcode)
{
    switch (opcode)
    {
        case audioMasterGetSampleRate:
            return static_cast<VstIntPtr> (sampleRate);

        case audioMasterGetBlockSize:
            return blockSize;

        case audioMasterGetTime:
            // A stopped transport at the current position.
            timeInfo.sampleRate = sampleRate;
            timeInfo.flags = 0;
            return reinterpret_cast<VstIntPtr> (&timeInfo);

        default:
            // Automation, idle, size requests and the rest: nothing to do.
            return 0;
    }
}
