#include "host/WindowManagerAtoms.h"

#include <X11/Xlib.h>

WindowManagerAtoms::WindowManagerAtoms()
{
    auto* connection = XOpenDisplay (nullptr);

    if (connection == nullptr)
        return;

    for (const auto* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_STATE", "WM_CHANGE_STATE" })
        XInternAtom (connection, name, False);

    XSync (connection, False);
    display = connection;
}

WindowManagerAtoms::~WindowManagerAtoms()
{
    if (display != nullptr)
        XCloseDisplay (static_cast<Display*> (display));
}
