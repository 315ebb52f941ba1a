#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "support/DesktopAtoms.h"

// One GUI initialiser for the whole run: processors, editors and timers all
// expect a message manager to exist.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    const DesktopAtoms desktopAtoms; // before any window exists
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return RUN_ALL_TESTS();
}
