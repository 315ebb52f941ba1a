#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace
{
    void runPendingMessages()
    {
        while (juce::dispatchNextMessageOnSystemQueue (true))
        {}
    }
}

TEST (EditorControls, ClicksActOnTheProcessorAndSwitchPages)
{
    EditorTestbed t;
    t.editor->addToDesktop (0);
    t.editor->setVisible (true);
    ParameterLog host;
    t.p.addListener (&host);

    // The scale toggle, clicked where the "+18" caption covers it.
    t.p.setParameter (1, 0.0f);
    t.tick();
    host.changes.clear();

    for (auto scale : { 18.0f, 9.0f })
    {
        t.click ({ 180.0f, 448.0f });
        t.tick();
        EXPECT_EQ (t.p.measurementScale.load(), scale);
    }

    // "-12", then "-6", then no choice at all, which must send nothing.
    for (int id : { 8, 5, 0 })
        t.at<juce::ComboBox> (2, 15, 85).setSelectedId (id, juce::sendNotificationSync);

    EXPECT_EQ (host.changes, (std::vector<std::pair<int, float>> { { 1, 1.0f }, { 1, 0.0f }, { 2, 0.0f }, { 2, 6.0f / 11.0f } }));
    EXPECT_FLOAT_EQ (t.p.truePeakMaxLevel.load(), -6.0f);

    // The lit peak indicator, clicked where its caption covers it.
    auto& peak = t.at<juce::Button> (1, 210, 37);
    t.p.readings.truePeakOverload.store (1);
    t.tick();
    t.click ({ 220.0f, 77.0f });
    EXPECT_EQ (t.p.readings.truePeakOverload.load(), 0);
    t.tick();
    EXPECT_FALSE (peak.getToggleState() || peak.isEnabled());

    // A reset empties the display at the next tick.
    t.play (-10.0f, 4.0);
    ASSERT_EQ (t.at (1, 154, 75).getText(), "-10.0 LUFS");
    t.click ({ 196.0f, 411.0f });
    t.tick();
    EXPECT_EQ (t.at (1, 154, 285).getText(), "00:00:00:00");

    for (auto* label : { &t.at (1, 154, 75), &t.at (1, 154, 135), &t.at (1, 154, 195), &t.statistic (0), &t.statistic (3) })
        EXPECT_EQ (label->getText(), "-");

    for (int tab : { 1, 2, 0 })
    {
        t.click (t.tabs().getTabButton (tab)->getBounds().getCentre().toFloat());
        t.tabs().dispatchPendingMessages();

        for (int page = 1; page <= 3; ++page)
            EXPECT_EQ (t.editor->getChildComponent (page)->isVisible(), page == (tab == 0 ? 1 : 4 - tab)) << tab;

        for (int i = 0; i < 3; ++i)
            EXPECT_EQ (t.tabs().getTabBackgroundColour (i), i == tab ? juce::Colours::black : juce::Colour (0xffd8d8d8)) << tab;
    }

    t.p.removeListener (&host);
}

TEST (EditorControls, ANewEditorShowsTheMeasurementThatRanOnAndSetsTheMinusOneLimit)
{
    EditorTestbed t;
    t.play (-23.0f, 4.0);
    t.closeEditor();
    t.play (-23.0f, 4.0);
    t.p.setParameter (2, 6.0f / 11.0f);
    ParameterLog host;
    t.p.addListener (&host);

    t.openEditor();
    runPendingMessages(); // the opening's own limit choice
    t.tick();

    // The mode list's notifications change nothing.
    t.at<juce::ComboBox> (2, 15, 40).setSelectedId (3, juce::sendNotificationSync);
    EXPECT_EQ (host.changes, (std::vector<std::pair<int, float>> { { 2, 1.0f } }));
    EXPECT_EQ (t.p.truePeakMaxLevel.load(), -1.0f);
    EXPECT_EQ (t.at (1, 154, 285).getText(), "00:00:08:00");
    EXPECT_EQ (t.at (1, 154, 75).getText(), "-23.0 LUFS");
    t.p.removeListener (&host);
}

TEST (EditorControls, OpensTicksResetsAndClosesWhileTheAudioAndLoudnessThreadsRun)
{
    EditorTestbed t;
    t.play (-20.0f, 0.05); // leaves a block of the sine to play on
    t.closeEditor();
    t.p.prepareToPlay (EditorTestbed::sampleRate, EditorTestbed::blockSize); // the loudness thread measures
    std::atomic<bool> stop { false };

    std::thread audio ([&] {
        for (juce::int64 b = 0; ! stop; ++b)
        {
            t.playHead.set (true, b * EditorTestbed::blockSize);
            t.p.processBlock (t.block, t.midi);
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
    });

    for (int i = 0; i < 40; ++i)
    {
        if (i == 20)
            t.p.prepareToPlay (44100.0, EditorTestbed::blockSize); // a new rate while blocks run

        t.openEditor();

        if (i % 3 == 0)
            t.editor->addToDesktop (0);

        // Some close before their first tick or before their queued limit choice.
        if (i % 2 == 0)
        {
            t.tick();
            t.editor->buttonClicked (&t.at<juce::Button> (1, 154, 369));
            runPendingMessages();
            t.tick();
        }

        t.closeEditor();
    }

    stop = true;
    audio.join();
    EXPECT_EQ (t.p.getActiveEditor(), nullptr);
}
