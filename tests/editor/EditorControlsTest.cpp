#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"

#include <atomic>
#include <thread>

TEST (EditorControls, ClicksActOnTheProcessorAndEachOpeningSetsTheMinusOneLimit)
{
    ParameterLog host; // outlives the processor that reports to it
    EditorTestbed t;
    t.editor->addToDesktop (0);
    t.p.addListener (&host);

    // What takes clicks on each page ('t' toggles, '-' disabled): the texts
    // over the meters and controls let the clicks through.
    const char* const takers[] = {
        "xxxxt-....xt-xxxxxxxxt..x.",
        "xxxx.xxx",
        "x............",
    };

    for (int page = 1; page <= 3; ++page)
    {
        juce::String actual;

        for (auto* child : t.editor->getChildComponent (page)->getChildren())
        {
            auto* button = dynamic_cast<juce::Button*> (child);
            actual << (child->hitTest (0, 0) ? "x" : ".") << (button != nullptr && button->getClickingTogglesState() ? "t" : "") << (child->isEnabled() ? "" : "-");
        }

        EXPECT_EQ (actual, takers[page - 1]) << page;
    }

    // The lit peak indicator, clicked where its caption covers it.
    t.p.readings.truePeakOverload.store (1);
    t.tick();
    t.click ({ 220.0f, 77.0f });
    EXPECT_EQ (t.p.readings.truePeakOverload.load(), 0);

    // The scale toggle, clicked where the "+18" caption covers it.
    t.click ({ 180.0f, 448.0f });
    t.tick();
    t.click ({ 180.0f, 448.0f });

    // "-12", then "-6", then no choice at all, which must send nothing.
    for (int id : { 8, 5, 0 })
        t.at<juce::ComboBox> (2, 15, 85).setSelectedId (id, juce::sendNotificationSync);

    EXPECT_EQ (host.changes, (std::vector<std::pair<int, float>> { { 1, 0.0f }, { 1, 1.0f }, { 2, 0.0f }, { 2, 6.0f / 11.0f } }));
    EXPECT_FLOAT_EQ (t.p.truePeakMaxLevel.load(), -6.0f);

    // Each opening sets the -1 dBTP limit as the host sees it; the mode
    // list's own notice changes nothing.
    host.changes.clear();
    t.closeEditor();
    t.openEditor();
    t.runPendingMessages();
    EXPECT_EQ (host.changes, (std::vector<std::pair<int, float>> { { 2, 1.0f } }));
    EXPECT_EQ (t.p.truePeakMaxLevel.load(), -1.0f);
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
        }
    });

    for (int i = 0; i < 40; ++i)
    {
        if (i == 20)
            t.p.prepareToPlay (44100.0, EditorTestbed::blockSize); // a new rate while blocks run

        t.openEditor();

        // Some close before their first tick or before their queued limit choice.
        if (i % 2 == 0)
        {
            t.tick();
            t.editor->buttonClicked (&t.at<juce::Button> (1, 154, 369));
            t.runPendingMessages();
            t.tick();
        }

        t.closeEditor();
    }

    stop = true;
    audio.join();
    EXPECT_EQ (t.p.getActiveEditor(), nullptr);
}
