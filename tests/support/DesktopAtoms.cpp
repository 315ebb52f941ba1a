#include "support/DesktopAtoms.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <initializer_list>

DesktopAtoms::DesktopAtoms()
{
    if (std::getenv ("DISPLAY") == nullptr)
        return;

    auto* connection = XOpenDisplay (nullptr);

    if (connection == nullptr)
        return;

    for (const auto* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE",
                              "WM_STATE", "_NET_WM_PING", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL",
                              "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_FRAME_EXTENTS", "_NET_WORKAREA" })
        XInternAtom (connection, name, False);

    XSync (connection, False);
    display = connection;
}

DesktopAtoms::~DesktopAtoms()
{
    if (display != nullptr)
        XCloseDisplay (static_cast<Display*> (display));
}
