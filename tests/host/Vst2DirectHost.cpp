#include "host/Vst2DirectHost.h"

#include <X11/Xlib.h>

#include <dlfcn.h>

#include <chrono>
#include <memory>
#include <thread>

namespace
{
    // The plug-in asks for the host's version; everything else (time info,
    // automation, size requests) a host may leave unanswered.
    VstIntPtr hostCallback (AEffect*, int opcode, int, VstIntPtr, void*, float)
    {
        return opcode == audioMasterVersion ? kVstVersion : 0;
    }
}

Vst2DirectHost::Vst2DirectHost (const std::string& libraryPath)
{
    library = dlopen (libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto* entry = library != nullptr ? dlsym (library, "VSTPluginMain") : nullptr;
    auto* created = entry != nullptr ? reinterpret_cast<AEffect* (*) (audioMasterCallback)> (entry) (hostCallback) : nullptr;

    if (created == nullptr || created->magic != kEffectMagic)
    {
        const auto* reason = dlerror();
        error = "no effect from VSTPluginMain: " + std::string (reason != nullptr ? reason : "");
        return;
    }

    effect = created;
    dispatch (effOpen);
}

Vst2DirectHost::~Vst2DirectHost()
{
    if (effect != nullptr)
    {
        dispatch (effMainsChanged, 0, 0); // suspended first, as hosts do
        dispatch (effClose); // deletes the plug-in instance
    }

    if (library != nullptr)
        dlclose (library);
}

std::string Vst2DirectHost::getString (int opcode, int index)
{
    char buffer[512] = {}; // far beyond any limit the interface names
    dispatch (opcode, index, 0, buffer);
    buffer[sizeof (buffer) - 1] = 0;
    return buffer;
}

void Vst2DirectHost::prepare (double sampleRate, int blockSize)
{
    dispatch (effMainsChanged, 0, 0);
    dispatch (effSetSampleRate, 0, 0, nullptr, (float) sampleRate);
    dispatch (effSetBlockSize, 0, blockSize);
    dispatch (effMainsChanged, 0, 1);
}

std::vector<std::uint8_t> Vst2DirectHost::getChunk (bool preset)
{
    void* data = nullptr;
    const auto size = dispatch (effGetChunk, preset ? 1 : 0, 0, &data);
    const auto* bytes = static_cast<const std::uint8_t*> (data);
    return bytes != nullptr && size > 0 ? std::vector<std::uint8_t> (bytes, bytes + size) : std::vector<std::uint8_t>();
}

void Vst2DirectHost::setChunk (std::vector<std::uint8_t> chunk, bool preset)
{
    dispatch (effSetChunk, preset ? 1 : 0, (VstIntPtr) chunk.size(), chunk.data());
}

std::pair<int, int> Vst2DirectHost::openEditorInX11Window (int timeoutMs, const std::function<bool (std::pair<int, int>)>& done)
{
    std::unique_ptr<Display, int (*) (Display*)> display (XOpenDisplay (nullptr), XCloseDisplay);
    std::pair<int, int> size;

    if (display == nullptr)
        return size;

    const auto screen = DefaultScreen (display.get());
    const auto parent = XCreateSimpleWindow (display.get(), RootWindow (display.get(), screen), 0, 0, 400, 600, 0, 0, 0);
    XMapWindow (display.get(), parent);
    XSync (display.get(), False);

    if (dispatch (effEditOpen, 0, 0, reinterpret_cast<void*> (parent)) != 0)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

        while (! done (size) && std::chrono::steady_clock::now() < deadline)
        {
            dispatch (effEditIdle);
            XSync (display.get(), False);
            Window root = 0, parentOfParent = 0, *children = nullptr;
            unsigned int numChildren = 0;
            XWindowAttributes attributes {};

            if (XQueryTree (display.get(), parent, &root, &parentOfParent, &children, &numChildren) != 0 && numChildren > 0
                && XGetWindowAttributes (display.get(), children[0], &attributes) != 0)
                size = { attributes.width, attributes.height };

            if (children != nullptr)
                XFree (children);

            std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }

        dispatch (effEditClose);
    }

    XDestroyWindow (display.get(), parent);
    XSync (display.get(), False);
    return size;
}
