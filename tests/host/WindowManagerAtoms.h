#pragma once

#include <juce_core/juce_core.h>

/** Creates, on a bare X server without a window manager (Xvfb), the ICCCM
    atoms a window manager would have created.

    JUCE looks these up without creating them and, finding none, sets a window
    property named by atom 0, which the server rejects by ending the process.
    The connection stays open for the object's life so the server keeps the
    atoms. Without a display this does nothing.
*/
class WindowManagerAtoms final
{
public:
    WindowManagerAtoms();
    ~WindowManagerAtoms();

private:
    void* display = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WindowManagerAtoms)
};
