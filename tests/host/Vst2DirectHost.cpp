#include "host/Vst2DirectHost.h"

#include <X11/Xlib.h>

#include <dlfcn.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>

namespace
{
    // The effect is unknown while VSTPluginMain runs, yet the plug-in already
    // calls back (it asks for the host version first).
    thread_local Vst2DirectHost* hostBeingCreated = nullptr;

    /** A speaker arrangement with room for its open-ended speaker array,
        zeroed and aligned for the struct. Several of the names are marked
        unknown in the fst headers, but the wrapper was built against them. */
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    std::vector<std::max_align_t> speakerArrangement (int numChannels)
    {
        const auto bytes = sizeof (VstSpeakerArrangement) + (size_t) numChannels * sizeof (VstSpeakerProperties);
        std::vector<std::max_align_t> storage ((bytes + sizeof (std::max_align_t) - 1) / sizeof (std::max_align_t));
        auto& arrangement = *reinterpret_cast<VstSpeakerArrangement*> (storage.data());
        const int types[] = { kSpeakerArrUserDefined, kSpeakerArrMono, kSpeakerArrStereo, kSpeakerArr30Cine,
                              kSpeakerArrUserDefined, kSpeakerArr50, kSpeakerArr51 };
        arrangement.type = numChannels < 7 ? types[numChannels] : kSpeakerArrUserDefined;
        arrangement.numChannels = numChannels;

        // L, R, C, LFE, Ls, Rs; 5.0 leaves out the LFE.
        const int order51[] = { kSpeakerL, kSpeakerR, kSpeakerC, kSpeakerLfe, kSpeakerLs, kSpeakerRs };
        const int order50[] = { kSpeakerL, kSpeakerR, kSpeakerC, kSpeakerLs, kSpeakerRs };

        for (int i = 0; i < numChannels; ++i)
            arrangement.speakers[i].type = numChannels == 1 ? kSpeakerM : numChannels == 5 ? order50[i]
                                                                    : i < 6                ? order51[i]
                                                                                           : kSpeakerUndefined;
        return storage;
    }
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

Vst2DirectHost::Vst2DirectHost (const std::string& libraryPath)
{
    library = dlopen (libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto* entry = library != nullptr ? dlsym (library, "VSTPluginMain") : nullptr;

    if (entry == nullptr)
    {
        const auto* reason = dlerror();
        error = "cannot load VSTPluginMain: " + std::string (reason != nullptr ? reason : "unknown reason");
        return;
    }

    hostBeingCreated = this;
    auto* created = reinterpret_cast<AEffect* (*) (audioMasterCallback)> (entry) (hostCallback);
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

        dispatch (effClose); // deletes the plug-in instance
    }

    if (library != nullptr)
        dlclose (library);
}

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
    dispatch (effSetSampleRate, 0, 0, nullptr, (float) newSampleRate);
    dispatch (effSetBlockSize, 0, newBlockSize);
}

bool Vst2DirectHost::setSpeakerArrangement (int numInputs, int numOutputs)
{
    auto in = speakerArrangement (numInputs), out = speakerArrangement (numOutputs);
    return dispatch (effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr> (in.data()), out.data()) != 0;
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

std::vector<std::uint8_t> Vst2DirectHost::getChunk (bool preset)
{
    void* data = nullptr;
    const auto size = dispatch (effGetChunk, preset ? 1 : 0, 0, &data);
    const auto* bytes = static_cast<const std::uint8_t*> (data);
    return bytes != nullptr && size > 0 ? std::vector<std::uint8_t> (bytes, bytes + size) : std::vector<std::uint8_t>();
}

void Vst2DirectHost::setChunk (const std::vector<std::uint8_t>& chunk, bool preset)
{
    // The interface takes a writable pointer, so the plug-in gets a copy.
    auto copy = chunk;
    dispatch (effSetChunk, preset ? 1 : 0, (VstIntPtr) copy.size(), copy.data());
}

Vst2DirectHost::EditorSize Vst2DirectHost::getEditorRect()
{
    ERect* rect = nullptr;
    dispatch (effEditGetRect, 0, 0, &rect);
    return rect != nullptr ? EditorSize { rect->right - rect->left, rect->bottom - rect->top } : EditorSize {};
}

Vst2DirectHost::EditorSize Vst2DirectHost::openEditorInX11Window (int timeoutMs, const std::function<bool()>& alsoWaitFor)
{
    std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (nullptr), XCloseDisplay);

    if (display == nullptr)
        return {};

    const auto screen = DefaultScreen (display.get());
    const auto parent = XCreateSimpleWindow (display.get(), RootWindow (display.get(), screen), 0, 0, 400, 600, 0,
                                             BlackPixel (display.get(), screen), BlackPixel (display.get(), screen));
    XMapWindow (display.get(), parent);
    XSync (display.get(), False);
    EditorSize size;

    if (dispatch (effEditOpen, 0, 0, reinterpret_cast<void*> (parent)) != 0)
    {
        // The plug-in runs its event loop through effEditIdle until its window
        // shows inside ours.
        const auto done = [&] { return size.width != 0 && (! alsoWaitFor || alsoWaitFor()); };

        for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
             ! done() && std::chrono::steady_clock::now() < deadline;)
        {
            dispatch (effEditIdle);
            XSync (display.get(), False);

            Window root = 0, parentOfParent = 0;
            Window* children = nullptr;
            unsigned int numChildren = 0;
            XWindowAttributes attributes {};

            if (XQueryTree (display.get(), parent, &root, &parentOfParent, &children, &numChildren) != 0 && numChildren > 0
                && XGetWindowAttributes (display.get(), children[0], &attributes) != 0)
                size = { attributes.width, attributes.height };

            if (children != nullptr)
                XFree (children);

            std::this_thread::sleep_for (std::chrono::milliseconds (done() ? 0 : 10));
        }

        dispatch (effEditClose);
    }

    XDestroyWindow (display.get(), parent);
    XSync (display.get(), False);
    return size;
}

VstIntPtr Vst2DirectHost::hostCallback (AEffect* fromEffect, int opcode, int, VstIntPtr, void*, float)
{
    auto* host = fromEffect != nullptr && fromEffect->resvd1 != 0 ? reinterpret_cast<Vst2DirectHost*> (fromEffect->resvd1)
                                                                  : hostBeingCreated;
    if (opcode == audioMasterVersion)
        return kVstVersion;

    return host != nullptr ? host->handleHostOpcode (opcode) : 0;
}

VstIntPtr Vst2DirectHost::handleHostOpcode (int opcode)
{
    switch (opcode)
    {
        case audioMasterGetSampleRate: return (VstIntPtr) sampleRate;
        case audioMasterGetBlockSize: return blockSize;
        case audioMasterGetTime:
            // A stopped transport at the current position.
            timeInfo.sampleRate = sampleRate;
            timeInfo.flags = 0;
            return reinterpret_cast<VstIntPtr> (&timeInfo);
        default: return 0; // automation, idle, size requests: nothing to do
    }
}
