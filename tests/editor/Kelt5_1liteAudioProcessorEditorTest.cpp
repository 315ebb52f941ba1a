#include <gtest/gtest.h>

#include "editor/Kelt5_1liteAudioProcessorEditor.h"
#include "processor/Kelt5_1liteAudioProcessor.h"

#include "KeltImages.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace juce
{
    // JUCE's own message pump; runDispatchLoopUntil is left out of a build
    // that permits no modal loops.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
    constexpr juce::uint32 white = 0xffffffff, lightGrey = 0xffd8d8d8;
    constexpr int left = juce::Justification::centredLeft, centred = juce::Justification::centred;

    /** A page's child in the order of adding; a label when it has a text (a
        value label, attached left of the next child, when its bounds are empty). */
    struct Child
    {
        juce::Rectangle<int> bounds;
        const char* text = nullptr;
        float fontHeight = 0.0f;
        int justification = left;
        bool takesClicks = false;
        juce::uint32 colour = white;
        bool italic = false;
    };

    void expectChildren (juce::Component& page, const std::vector<Child>& table)
    {
        ASSERT_EQ (page.getNumChildComponents(), (int) table.size());

        for (int i = 0; i < (int) table.size(); ++i)
        {
            const auto& row = table[(size_t) i];
            auto* child = page.getChildComponent (i);
            auto* label = dynamic_cast<juce::Label*> (child);
            SCOPED_TRACE ("child " + std::to_string (i + 1));
            EXPECT_TRUE (child->isVisible());
            ASSERT_EQ (label != nullptr, row.text != nullptr);

            if (row.bounds.isEmpty())
            {
                const auto* unit = page.getChildComponent (i + 1);
                EXPECT_EQ (label->getAttachedComponent(), unit);
                EXPECT_EQ (child->getBounds(), unit->getBounds().withX (unit->getX() - child->getWidth()).withWidth (child->getWidth()));
            }
            else
            {
                EXPECT_EQ (child->getBounds().toString(), row.bounds.toString());
            }

            if (label != nullptr)
            {
                bool takesClicks = false, childrenTakeClicks = false;
                label->getInterceptsMouseClicks (takesClicks, childrenTakeClicks);
                EXPECT_EQ (label->getText(), juce::String::fromUTF8 (row.text));
                EXPECT_EQ (label->getFont().getHeight(), row.fontHeight);
                EXPECT_EQ (label->getFont().isItalic(), row.italic);
                EXPECT_EQ (label->findColour (juce::Label::textColourId).getARGB(), row.colour);
                EXPECT_EQ (label->getJustificationType().getFlags(), row.justification);
                EXPECT_EQ (takesClicks || childrenTakeClicks, row.takesClicks);
            }
        }
    }

    void runMessageLoop (int milliseconds)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;

        while (juce::Time::getMillisecondCounter() < end)
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (1);
    }

    /** A host's record of the parameter changes that the plug-in reports. */
    struct ParameterLog final : public juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override { changes.push_back ({ index, value }); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
        std::vector<std::pair<int, float>> changes;
    };

    using EditorPtr = std::unique_ptr<juce::AudioProcessorEditor>;

    /** Writes a picture into the build's screenshot folder, or to a full path. */
    void writePng (const juce::Image& image, const juce::String& name)
    {
        const auto file = juce::File (KELT_SCREENSHOT_DIR).getChildFile (name);
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        juce::FileOutputStream out (file);
        EXPECT_TRUE (juce::PNGImageFormat().writeImageToStream (image, out)) << file.getFullPathName();
    }
}

TEST (Editor, OpensWithItsPagesAsLaidOut)
{
    Kelt5_1liteAudioProcessor p;
    EditorPtr editor (p.createEditor());
    EXPECT_EQ (editor->getBounds(), juce::Rectangle<int> (0, 0, 249, 502));
    EXPECT_FALSE (editor->isResizable());
    ASSERT_EQ (editor->getNumChildComponents(), 4);

    auto* tabBar = dynamic_cast<juce::TabbedButtonBar*> (editor->getChildComponent (0));
    auto* meterPage = dynamic_cast<juce::ImageComponent*> (editor->getChildComponent (1));
    auto* settingsPage = editor->getChildComponent (2);
    auto* statisticsPage = editor->getChildComponent (3);
    ASSERT_TRUE (tabBar != nullptr && meterPage != nullptr);
    EXPECT_EQ (tabBar->getBounds(), juce::Rectangle<int> (0, 0, 249, 30));

    for (auto* page : { (juce::Component*) meterPage, settingsPage, statisticsPage })
        EXPECT_EQ (page->getBounds(), juce::Rectangle<int> (0, 30, 249, 472));

    EXPECT_TRUE (meterPage->isVisible() && ! settingsPage->isVisible() && ! statisticsPage->isVisible());
    EXPECT_TRUE (meterPage->getImage() == juce::ImageCache::getFromMemory (KeltImages::meterebu9_png, KeltImages::meterebu9_pngSize));

    const char* const tabTexts[] = { "\xc2\xa0 Meter \xc2\xa0", "\xc2\xa0Statistics\xc2\xa0", "\xc2\xa0 Settings \xc2\xa0" };
    const juce::uint32 tabColours[] = { 0xff000000, lightGrey, lightGrey };
    ASSERT_EQ (tabBar->getNumTabs(), 3);
    EXPECT_EQ (tabBar->getCurrentTabIndex(), 0);

    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ (tabBar->getTabNames()[i], juce::String::fromUTF8 (tabTexts[i])) << i;
        EXPECT_EQ (tabBar->getTabBackgroundColour (i).getARGB(), tabColours[i]) << i;
    }

    const auto green = 0xff81ca2f, darkGrey = 0xff555555;
    expectChildren (*meterPage, {
        { { 58, 41, 25, 352 } }, { { 126, 41, 16, 352 } }, { { 110, 41, 16, 352 } }, { { 210, 37, 20, 20 } },
        { { 167, 17, 90, 60 }, "Peak", 17 },                 { { 154, 285, 84, 60 }, "00:00:00:00", 15 },
        { { 154, 248, 84, 60 }, "EBU", 15, centred, false, green },
        { { 13, 408, 120, 20 }, "MLk LUFS", 17, centred },
        { { 154, 330, 84, 24 } },                            { { 154, 369, 84, 24 } },
        { { 154, 75, 84, 60 }, "", 15, centred, true },      { { 154, 92, 84, 60 }, "Integrated", 14, centred, true },
        { { 154, 135, 84, 60 }, "", 15, centred, true },     { { 154, 152, 84, 60 }, "Short Term", 14, centred, true },
        { { 154, 195, 84, 60 }, "", 15, centred, true },     { { 154, 212, 84, 60 }, "Range", 14, centred, true },
        { { 170, 410, 40, 17 } },
        { { 130, 390, 140, 60 }, "+18", 14, left, false, darkGrey, true },
        { { 210, 390, 140, 60 }, "+9", 14, left, false, darkGrey, true },
        { { 8, 439, 60, 25 } },                              { { 80, 4, 80, 25 }, "Kelt5.1 LE", 15 },
    });
    expectChildren (*statisticsPage, {
        { { 8, 439, 60, 25 } },
        { { 13, 15, 150, 60 }, "Program Loudness:", 14 },    { {}, "", 14 }, { { 190, 15, 130, 60 }, "LUFS", 14 },
        { { 13, 45, 130, 60 }, "Loudness Range:", 14 },      { {}, "", 14 }, { { 190, 45, 130, 60 }, "LU", 14 },
        { { 13, 75, 220, 60 }, "Max. S.T. Loudness:", 14 },  { {}, "", 14 }, { { 190, 75, 130, 60 }, "LUFS", 14 },
        { { 13, 105, 220, 60 }, "Max. Mom. Loudness:", 14 }, { {}, "", 14 }, { { 190, 105, 130, 60 }, "LUFS", 14 },
    });
    expectChildren (*settingsPage, {
        { { 10, 15, 249, 20 }, "Loudness Metering Mode:", 15, left, true }, { { 15, 40, 90, 15 } },
        { { 10, 60, 249, 20 }, "True Peak Limit:", 15, left, true },        { { 15, 85, 90, 15 } },
        { { 0, 276, 249, 40 }, "Kelt5.1LE Version:1.0.1\nBuild:510", 14, centred },
        { { 85, 352, 80, 20 } }, { { 85, 382, 80, 20 } }, { { 30, 150, 194, 60 } },
    });
    EXPECT_EQ (meterPage->getChildComponent (7)->findColour (juce::Label::backgroundColourId), juce::Colours::black);

    // Peak indicator, play indicator, reset, scale.
    const struct { int child; bool enabled, togglesOnClick; } buttons[] = { { 3, false, true }, { 8, false, true },
                                                                            { 9, true, false }, { 16, true, true } };
    for (const auto& b : buttons)
    {
        auto* button = dynamic_cast<juce::DrawableButton*> (meterPage->getChildComponent (b.child));
        ASSERT_NE (button, nullptr);
        EXPECT_EQ (button->isEnabled(), b.enabled) << b.child;
        EXPECT_EQ (button->getClickingTogglesState(), b.togglesOnClick) << b.child;
        EXPECT_FALSE (button->getToggleState()) << b.child;
    }

    const struct { int child; juce::StringArray items; } lists[] = { { 1, { "EBU", "ATSC", "ARIB" } },
                                                                     { 3, { "-1", "-2", "-3", "-4", "-6", "-9", "-10", "-12" } } };
    for (const auto& l : lists)
    {
        auto* list = dynamic_cast<juce::ComboBox*> (settingsPage->getChildComponent (l.child));
        ASSERT_NE (list, nullptr);
        EXPECT_EQ (list->getSelectedId(), 1);
        EXPECT_EQ (list->findColour (juce::ComboBox::backgroundColourId).getARGB(), lightGrey);
        EXPECT_EQ (list->findColour (juce::ComboBox::outlineColourId).getARGB(), 0xff979797);
        ASSERT_EQ (list->getNumItems(), l.items.size());

        for (int i = 0; i < l.items.size(); ++i)
            EXPECT_EQ (list->getItemText (i) + "=" + juce::String (list->getItemId (i)), l.items[i] + "=" + juce::String (i + 1));
    }

    const char* const urls[] = { "Contact us https://vesk-audio.example/contact-us/", "User Guide https://vesk-audio.example/support/" };

    for (int i = 0; i < 2; ++i)
    {
        auto* link = dynamic_cast<juce::HyperlinkButton*> (settingsPage->getChildComponent (5 + i));
        ASSERT_NE (link, nullptr);
        EXPECT_EQ (link->getButtonText() + " " + link->getURL().toString (false), urls[i]);
    }
}

TEST (Editor, EveryOpeningSetsTheMinusOneLimitAndTellsTheHost)
{
    Kelt5_1liteAudioProcessor p;
    ParameterLog host;
    p.addListener (&host);

    for (int opening = 1; opening <= 2; ++opening)
    {
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
        p.setParameter (2, 0.0f);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        host.changes.clear();

        EditorPtr editor (p.createEditor());
        EXPECT_TRUE (host.changes.empty());   // the lists notify asynchronously

        for (int i = 0; i < 100 && host.changes.empty(); ++i)
            runMessageLoop (10);

        runMessageLoop (100);

        // The mode list's notifications change nothing.
        dynamic_cast<juce::ComboBox*> (editor->getChildComponent (2)->getChildComponent (1))->setSelectedId (3, juce::sendNotificationSync);
        EXPECT_EQ (host.changes, (std::vector<std::pair<int, float>> { { 2, 1.0f } })) << "opening " << opening;
        EXPECT_EQ (p.truePeakMaxLevel.load(), -1.0f);
        EXPECT_EQ (p.measurementScale.load(), 18.0f);
    }

    p.removeListener (&host);
}

TEST (Editor, ClicksPassThroughTheCaptionsToTheButtonsBeneath)
{
    Kelt5_1liteAudioProcessor p;
    EditorPtr editor (p.createEditor());
    editor->addToDesktop (0);
    editor->setVisible (true);
    auto* page = editor->getChildComponent (1);
    auto* truePeakButton = dynamic_cast<juce::Button*> (page->getChildComponent (3));
    auto* scaleButton = dynamic_cast<juce::Button*> (page->getChildComponent (16));

    // The indicator takes clicks while the latch is set.
    truePeakButton->setEnabled (true);
    truePeakButton->setToggleState (true, juce::dontSendNotification);

    // Editor points under the "Peak" and "+18" captions.
    const struct { juce::Button* button; juce::Point<float> point; bool toggledAfter; } clicks[] = {
        { truePeakButton, { 220.0f, 77.0f }, false }, { scaleButton, { 180.0f, 448.0f }, true },
    };

    auto* peer = editor->getPeer();
    ASSERT_NE (peer, nullptr);
    auto time = juce::Time::currentTimeMillis();
    using Source = juce::MouseInputSource;

    for (const auto& click : clicks)
    {
        EXPECT_EQ (editor->getComponentAt (click.point.toInt()), click.button);

        for (auto modifiers : { (int) juce::ModifierKeys::leftButtonModifier, 0 })
            peer->handleMouseEvent (Source::InputSourceType::mouse, click.point, juce::ModifierKeys (modifiers),
                                    Source::defaultPressure, Source::defaultOrientation, ++time);

        EXPECT_EQ (click.button->getToggleState(), click.toggledAfter);
    }

    editor->removeFromDesktop();
}

// KELT_UPDATE_GOLDEN=1 rewrites the golden picture (tests/editor/golden/README.md).
TEST (Editor, MeterPageMatchesItsGoldenPicture)
{
    Kelt5_1liteAudioProcessor p;
    EditorPtr editor (p.createEditor());
    const auto actual = editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f);
    const auto goldenFile = juce::File (KELT_GOLDEN_DIR).getChildFile ("editor-meter-page.png");
    writePng (actual, "editor-meter-page.png");

    if (std::getenv ("KELT_UPDATE_GOLDEN") != nullptr)
    {
        writePng (actual, goldenFile.getFullPathName());
        GTEST_SKIP() << "rewrote " << goldenFile.getFullPathName();
    }

    const auto golden = juce::ImageFileFormat::loadFrom (goldenFile);
    ASSERT_EQ (golden.getBounds(), actual.getBounds()) << goldenFile.getFullPathName();

    // Rasterisers may differ by a shade on an edge; a moved element changes
    // hundreds of pixels by far more.
    int differing = 0;

    for (int y = 0; y < actual.getHeight(); ++y)
    {
        for (int x = 0; x < actual.getWidth(); ++x)
        {
            const auto a = actual.getPixelAt (x, y), g = golden.getPixelAt (x, y);
            differing += std::max ({ std::abs (a.getRed() - g.getRed()), std::abs (a.getGreen() - g.getGreen()),
                                     std::abs (a.getBlue() - g.getBlue()) }) > 24 ? 1 : 0;
        }
    }

    EXPECT_LE (differing, 20) << "see " KELT_SCREENSHOT_DIR "/editor-meter-page.png";
}

// Also a picture for reviewers: the three meters at -23 LUFS, the page's target mark.
TEST (Editor, MetersLineUpWithThePageAtTheTarget)
{
    Kelt5_1liteAudioProcessor p;
    p.measurementScale = 9.0f;
    EditorPtr editor (p.createEditor());
    auto* page = editor->getChildComponent (1);
    auto* bar = dynamic_cast<TarnJuceVU*> (page->getChildComponent (0));
    auto* arrow = dynamic_cast<TarnJuceArrowVU*> (page->getChildComponent (1));
    auto* band = dynamic_cast<TarnJuceLRVU*> (page->getChildComponent (2));
    ASSERT_TRUE (bar != nullptr && arrow != nullptr && band != nullptr);
    EXPECT_EQ (bar->getName() + arrow->getName() + band->getName(), "VUMeterArrowVUMeterLRVUMeter");

    bar->setLevel (arrow->position = p.loudnessToMeterPosition (-23.0f));
    band->lowPosition = p.loudnessToMeterPosition (-28.0f);
    band->highPosition = p.loudnessToMeterPosition (-18.0f);

    const auto picture = page->createComponentSnapshot ({ 0, 0, 160, 420 }, true, 1.0f);
    writePng (picture, "meters-side-by-side.png");
    EXPECT_EQ (picture.getPixelAt (70, 199), juce::Colour (0xff3892e3));
    EXPECT_NE (picture.getPixelAt (70, 198), juce::Colour (0xff3892e3));
}
