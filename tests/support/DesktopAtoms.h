#pragma once

#include <X11/Xlib.h>

#include <cstdlib>

/** A bare X server (Xvfb) without a window manager lacks the window-manager
    atoms that JUCE's windows look up but do not create, and the server
    rejects a window property set with a missing one. This interns them, as a
    desktop's window manager would, and keeps its connection open for its
    lifetime so that the server does not reset and forget them. Does nothing
    without a display. */
struct DesktopAtoms final
{
    DesktopAtoms()
    {
        for (const auto* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE",
                                  "WM_STATE", "_NET_WM_PING", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL",
                                  "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_FRAME_EXTENTS", "_NET_WORKAREA" })
            if (display != nullptr)
                XInternAtom (display, name, False);

        if (display != nullptr)
            XSync (display, False);
    }

    ~DesktopAtoms()
    {
        if (display != nullptr)
            XCloseDisplay (display);
    }

    Display* const display = std::getenv ("DISPLAY") != nullptr ? XOpenDisplay (nullptr) : nullptr;
};
