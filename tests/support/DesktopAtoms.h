#pragma once

/** A bare X server (Xvfb) without a window manager lacks the window-manager
    atoms that JUCE's windows look up but do not create, and the server
    rejects a window property set with a missing one. This interns them, as a
    desktop's window manager would, and keeps its connection open for its
    lifetime so that the server does not reset and forget them. Does nothing
    without a display. */
class DesktopAtoms final
{
public:
    DesktopAtoms();
    ~DesktopAtoms();

    DesktopAtoms (const DesktopAtoms&) = delete;
    DesktopAtoms& operator= (const DesktopAtoms&) = delete;

private:
    void* display = nullptr;
};
