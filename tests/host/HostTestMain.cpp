#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "support/DesktopAtoms.h"

// One GUI initialiser for the whole run, as a host application has: the
// hosted plug-ins, their editors and the format scans need a message manager.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    // Before any window exists, ours or a hosted plug-in's.
    const DesktopAtoms desktopAtoms;
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return RUN_ALL_TESTS();
}
