#include <gtest/gtest.h>

#include "editor/Kelt5_1liteAudioProcessorEditor.h"
#include "processor/Kelt5_1liteAudioProcessor.h"

#include "KeltImages.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace juce
{
    // JUCE's own message pump, defined by juce_events for this platform.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
    using Justification = juce::Justification;

    constexpr juce::uint32 white = 0xffffffff, green = 0xff81ca2f, darkGrey = 0xff555555, lightGrey = 0xffd8d8d8;

    /** One child of a page, in the order of adding. Kind is a label's text
        after "label:" (with font, colour, justification and whether it takes
        clicks), "value" for a label attached left of the next child, or the
        name of another component type. */
    struct Child
    {
        const char* kind;
        juce::Rectangle<int> bounds;
        float fontHeight = 0.0f;
        bool italic = false;
        juce::uint32 colour = white;
        int justification = Justification::centredLeft;
        bool takesClicks = false;
    };

    std::unique_ptr<juce::AudioProcessorEditor> openEditor (Kelt5_1liteAudioProcessor& p)
    {
        return std::unique_ptr<juce::AudioProcessorEditor> (p.createEditor());
    }

    void expectChildren (juce::Component& page, const std::vector<Child>& table)
    {
        ASSERT_EQ (page.getNumChildComponents(), (int) table.size());

        for (int i = 0; i < (int) table.size(); ++i)
        {
            const auto& row = table[(size_t) i];
            const juce::String kind (row.kind);
            auto* child = page.getChildComponent (i);
            SCOPED_TRACE ("child " + juce::String (i + 1) + " (" + kind + ")");

            EXPECT_TRUE (child->isVisible());

            if (kind == "value")
            {
                // It follows its text's width with its right edge on the unit.
                auto* label = dynamic_cast<juce::Label*> (child);
                ASSERT_NE (label, nullptr);
                const auto* unit = page.getChildComponent (i + 1);
                EXPECT_EQ (label->getAttachedComponent(), unit);
                EXPECT_TRUE (label->isAttachedOnLeft());
                EXPECT_EQ (child->getRight(), unit->getX());
                EXPECT_EQ (child->getY(), unit->getY());
                EXPECT_EQ (child->getHeight(), unit->getHeight());
                EXPECT_TRUE (label->getText().isEmpty());
            }
            else
            {
                EXPECT_EQ (child->getBounds().toString(), row.bounds.toString());
            }

            if (kind.startsWith ("label:") || kind == "value")
            {
                auto* label = dynamic_cast<juce::Label*> (child);
                ASSERT_NE (label, nullptr);

                if (kind != "value")
                {
                    EXPECT_EQ (label->getText(), kind.fromFirstOccurrenceOf (":", false, false));
                }

                EXPECT_EQ (label->getFont().getHeight(), row.fontHeight);
                EXPECT_EQ (label->getFont().isItalic(), row.italic);
                EXPECT_EQ (label->findColour (juce::Label::textColourId).getARGB(), row.colour);
                EXPECT_EQ (label->getJustificationType().getFlags(), row.justification);

                bool takesClicks = false, childrenTakeClicks = false;
                label->getInterceptsMouseClicks (takesClicks, childrenTakeClicks);
                EXPECT_EQ (takesClicks, row.takesClicks);
                EXPECT_TRUE (row.takesClicks || ! childrenTakeClicks);
            }
            else if (kind == "button")   EXPECT_NE (dynamic_cast<juce::DrawableButton*> (child), nullptr);
            else if (kind == "image")    EXPECT_NE (dynamic_cast<juce::ImageComponent*> (child), nullptr);
            else if (kind == "list")     EXPECT_NE (dynamic_cast<juce::ComboBox*> (child), nullptr);
            else if (kind == "link")     EXPECT_NE (dynamic_cast<juce::HyperlinkButton*> (child), nullptr);
            else                         EXPECT_EQ (child->getName(), kind);
        }
    }

    juce::Image snapshotOf (juce::Component& component)
    {
        return component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
    }

    void writePng (const juce::Image& image, const juce::File& file)
    {
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        juce::FileOutputStream out (file);
        juce::PNGImageFormat().writeImageToStream (image, out);
    }

    /** A host's view of the parameter changes that the plug-in reports. */
    struct ParameterLog final : public juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override
        {
            changes.push_back ({ index, value });
        }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        std::vector<std::pair<int, float>> changes;
    };

    /** The message loop of runDispatchLoopUntil, which the plug-in's build
        leaves out: it permits no modal loops. */
    void runMessageLoop (int milliseconds)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;

        while (juce::Time::getMillisecondCounter() < end)
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (1);
    }
}

TEST (Editor, BuildsItsPagesAsLaidOut)
{
    Kelt5_1liteAudioProcessor p;
    auto editor = openEditor (p);

    EXPECT_EQ (editor->getWidth(), 249);
    EXPECT_EQ (editor->getHeight(), 502);
    EXPECT_FALSE (editor->isResizable());
    ASSERT_EQ (editor->getNumChildComponents(), 4);

    auto* tabBar = dynamic_cast<juce::TabbedButtonBar*> (editor->getChildComponent (0));
    auto* meterPage = dynamic_cast<juce::ImageComponent*> (editor->getChildComponent (1));
    auto* settingsPage = editor->getChildComponent (2);
    auto* statisticsPage = editor->getChildComponent (3);
    ASSERT_NE (tabBar, nullptr);
    ASSERT_NE (meterPage, nullptr);

    const juce::Rectangle<int> pageBounds (0, 30, 249, 472);
    EXPECT_EQ (tabBar->getBounds(), juce::Rectangle<int> (0, 0, 249, 30));
    EXPECT_EQ (meterPage->getBounds(), pageBounds);
    EXPECT_EQ (settingsPage->getBounds(), pageBounds);
    EXPECT_EQ (statisticsPage->getBounds(), pageBounds);
    EXPECT_TRUE (meterPage->isVisible());
    EXPECT_FALSE (settingsPage->isVisible());
    EXPECT_FALSE (statisticsPage->isVisible());
    EXPECT_TRUE (meterPage->getImage() == juce::ImageCache::getFromMemory (KeltImages::meterebu9_png,
                                                                           KeltImages::meterebu9_pngSize));

    // No-break spaces around the words, not plain ones.
    const char* const tabTexts[] = { "\xc2\xa0 Meter \xc2\xa0", "\xc2\xa0Statistics\xc2\xa0", "\xc2\xa0 Settings \xc2\xa0" };
    const juce::uint32 tabColours[] = { 0xff000000, lightGrey, lightGrey };
    ASSERT_EQ (tabBar->getNumTabs(), 3);
    EXPECT_EQ (tabBar->getCurrentTabIndex(), 0);
    EXPECT_EQ (tabBar->getOrientation(), juce::TabbedButtonBar::TabsAtTop);

    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ (tabBar->getTabNames()[i], juce::String::fromUTF8 (tabTexts[i])) << i;
        EXPECT_EQ (tabBar->getTabBackgroundColour (i).getARGB(), tabColours[i]) << i;
    }

    constexpr auto centred = Justification::centred;
    {
        SCOPED_TRACE ("Meter page");
        expectChildren (*meterPage, {
            { "VUMeter",              { 58, 41, 25, 352 } },
            { "ArrowVUMeter",         { 126, 41, 16, 352 } },
            { "LRVUMeter",            { 110, 41, 16, 352 } },
            { "button",               { 210, 37, 20, 20 } },
            { "label:Peak",           { 167, 17, 90, 60 }, 17.0f },
            { "label:00:00:00:00",    { 154, 285, 84, 60 }, 15.0f },
            { "label:EBU",            { 154, 248, 84, 60 }, 15.0f, false, green, centred },
            { "label:MLk LUFS",       { 13, 408, 120, 20 }, 17.0f, false, white, centred },
            { "button",               { 154, 330, 84, 24 } },
            { "button",               { 154, 369, 84, 24 } },
            { "label:",               { 154, 75, 84, 60 }, 15.0f, false, white, centred, true },
            { "label:Integrated",     { 154, 92, 84, 60 }, 14.0f, false, white, centred, true },
            { "label:",               { 154, 135, 84, 60 }, 15.0f, false, white, centred, true },
            { "label:Short Term",     { 154, 152, 84, 60 }, 14.0f, false, white, centred, true },
            { "label:",               { 154, 195, 84, 60 }, 15.0f, false, white, centred, true },
            { "label:Range",          { 154, 212, 84, 60 }, 14.0f, false, white, centred, true },
            { "button",               { 170, 410, 40, 17 } },
            { "label:+18",            { 130, 390, 140, 60 }, 14.0f, true, darkGrey },
            { "label:+9",             { 210, 390, 140, 60 }, 14.0f, true, darkGrey },
            { "image",                { 8, 439, 60, 25 } },
            { "label:Kelt5.1 LE",     { 80, 4, 80, 25 }, 15.0f },
        });
    }
    {
        SCOPED_TRACE ("Statistics page");
        expectChildren (*statisticsPage, {
            { "image",                       { 8, 439, 60, 25 } },
            { "label:Program Loudness:",     { 13, 15, 150, 60 }, 14.0f },
            { "value",                       {}, 14.0f },
            { "label:LUFS",                  { 190, 15, 130, 60 }, 14.0f },
            { "label:Loudness Range:",       { 13, 45, 130, 60 }, 14.0f },
            { "value",                       {}, 14.0f },
            { "label:LU",                    { 190, 45, 130, 60 }, 14.0f },
            { "label:Max. S.T. Loudness:",   { 13, 75, 220, 60 }, 14.0f },
            { "value",                       {}, 14.0f },
            { "label:LUFS",                  { 190, 75, 130, 60 }, 14.0f },
            { "label:Max. Mom. Loudness:",   { 13, 105, 220, 60 }, 14.0f },
            { "value",                       {}, 14.0f },
            { "label:LUFS",                  { 190, 105, 130, 60 }, 14.0f },
        });
    }
    {
        SCOPED_TRACE ("Settings page");
        expectChildren (*settingsPage, {
            { "label:Loudness Metering Mode:",          { 10, 15, 249, 20 }, 15.0f, false, white, Justification::centredLeft, true },
            { "list",                                   { 15, 40, 90, 15 } },
            { "label:True Peak Limit:",                 { 10, 60, 249, 20 }, 15.0f, false, white, Justification::centredLeft, true },
            { "list",                                   { 15, 85, 90, 15 } },
            { "label:Kelt5.1LE Version:1.0.1\nBuild:510", { 0, 276, 249, 40 }, 14.0f, false, white, centred },
            { "link",                                   { 85, 352, 80, 20 } },
            { "link",                                   { 85, 382, 80, 20 } },
            { "image",                                  { 30, 150, 194, 60 } },
        });
    }

    EXPECT_EQ (meterPage->getChildComponent (7)->findColour (juce::Label::backgroundColourId), juce::Colours::black);

    // Peak indicator, play indicator, reset, scale: enabled, on, toggled by clicks.
    const struct { int child; bool enabled, toggles; } buttons[] = {
        { 3, false, true }, { 8, false, true }, { 9, true, false }, { 16, true, true },
    };

    for (const auto& b : buttons)
    {
        auto* button = dynamic_cast<juce::Button*> (meterPage->getChildComponent (b.child));
        EXPECT_EQ (button->isEnabled(), b.enabled) << b.child;
        EXPECT_FALSE (button->getToggleState()) << b.child;
        EXPECT_EQ (button->getClickingTogglesState(), b.toggles) << b.child;
    }

    const struct { int child; std::vector<const char*> items; } lists[] = {
        { 1, { "EBU", "ATSC", "ARIB" } },
        { 3, { "-1", "-2", "-3", "-4", "-6", "-9", "-10", "-12" } },
    };

    for (const auto& l : lists)
    {
        auto* list = dynamic_cast<juce::ComboBox*> (settingsPage->getChildComponent (l.child));
        ASSERT_EQ (list->getNumItems(), (int) l.items.size());
        EXPECT_EQ (list->getSelectedId(), 1);
        EXPECT_EQ (list->findColour (juce::ComboBox::backgroundColourId).getARGB(), lightGrey);
        EXPECT_EQ (list->findColour (juce::ComboBox::outlineColourId).getARGB(), 0xff979797);

        for (int i = 0; i < list->getNumItems(); ++i)
        {
            EXPECT_EQ (list->getItemId (i), i + 1);
            EXPECT_EQ (list->getItemText (i), l.items[(size_t) i]);
        }
    }

    const struct { int child; const char* text; const char* url; } links[] = {
        { 5, "Contact us", "https://vesk-audio.example/contact-us/" },
        { 6, "User Guide", "https://vesk-audio.example/support/" },
    };

    for (const auto& l : links)
    {
        auto* link = dynamic_cast<juce::HyperlinkButton*> (settingsPage->getChildComponent (l.child));
        EXPECT_EQ (link->getButtonText(), l.text);
        EXPECT_EQ (link->getURL().toString (false), l.url);
        EXPECT_EQ (link->findColour (juce::HyperlinkButton::textColourId), juce::Colours::white);
    }
}

TEST (Editor, EveryOpeningSetsTheMinusOneLimitAndTellsTheHost)
{
    Kelt5_1liteAudioProcessor p;
    ParameterLog host;
    p.addListener (&host);

    for (int opening = 1; opening <= 2; ++opening)
    {
        SCOPED_TRACE ("opening " + std::to_string (opening));
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
        p.setParameter (2, 0.0f);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        host.changes.clear();

        auto editor = openEditor (p);
        EXPECT_TRUE (host.changes.empty());   // the lists notify asynchronously

        for (int i = 0; i < 100 && host.changes.empty(); ++i)
            runMessageLoop (10);

        runMessageLoop (100);

        // Only the limit list acts; the mode list's notification changes nothing.
        EXPECT_EQ (host.changes, (std::vector<std::pair<int, float>> { { 2, 1.0f } }));
        EXPECT_EQ (p.truePeakMaxLevel.load(), -1.0f);
        EXPECT_EQ (p.measurementScale.load(), 18.0f);
    }

    p.removeListener (&host);
}

TEST (Editor, ClicksPassThroughTheCaptionsToTheButtonsBeneath)
{
    Kelt5_1liteAudioProcessor p;
    auto editor = openEditor (p);
    editor->addToDesktop (0);
    editor->setVisible (true);

    auto* meterPage = editor->getChildComponent (1);
    auto* truePeakButton = dynamic_cast<juce::Button*> (meterPage->getChildComponent (3));
    auto* scaleButton = dynamic_cast<juce::Button*> (meterPage->getChildComponent (16));

    // The indicator takes clicks only while the latch is set.
    truePeakButton->setEnabled (true);
    truePeakButton->setToggleState (true, juce::dontSendNotification);

    // Points inside the peak caption and the +18 caption, editor coordinates.
    const struct { juce::Button* button; juce::Point<float> point; bool toggledAfter; } clicks[] = {
        { truePeakButton, { 220.0f, 77.0f }, false },
        { scaleButton, { 180.0f, 448.0f }, true },
    };

    auto* peer = editor->getPeer();
    ASSERT_NE (peer, nullptr);
    auto time = juce::Time::currentTimeMillis();

    for (const auto& click : clicks)
    {
        EXPECT_EQ (editor->getComponentAt (click.point.toInt()), click.button);

        using Source = juce::MouseInputSource;
        peer->handleMouseEvent (Source::InputSourceType::mouse, click.point, juce::ModifierKeys::leftButtonModifier,
                                Source::defaultPressure, Source::defaultOrientation, ++time);
        peer->handleMouseEvent (Source::InputSourceType::mouse, click.point, juce::ModifierKeys(),
                                Source::defaultPressure, Source::defaultOrientation, ++time);

        EXPECT_EQ (click.button->getToggleState(), click.toggledAfter);
    }

    editor->removeFromDesktop();
}

// Set KELT_UPDATE_GOLDEN=1 to rewrite the golden picture after an intended
// change of layout or artwork (see tests/editor/golden/README.md).
TEST (Editor, MeterPageMatchesItsGoldenPicture)
{
    Kelt5_1liteAudioProcessor p;
    auto editor = openEditor (p);
    const auto actual = snapshotOf (*editor);
    writePng (actual, juce::File (KELT_SCREENSHOT_DIR).getChildFile ("editor-meter-page.png"));

    const auto goldenFile = juce::File (KELT_GOLDEN_DIR).getChildFile ("editor-meter-page.png");

    if (std::getenv ("KELT_UPDATE_GOLDEN") != nullptr)
    {
        writePng (actual, goldenFile);
        GTEST_SKIP() << "rewrote " << goldenFile.getFullPathName();
    }

    const auto golden = juce::ImageFileFormat::loadFrom (goldenFile);
    ASSERT_TRUE (golden.isValid()) << goldenFile.getFullPathName();
    ASSERT_EQ (golden.getBounds(), actual.getBounds());

    // Font rasterisers may differ by a shade on an edge pixel; a moved or
    // missing element changes many pixels by far more.
    constexpr int tolerance = 24, allowedPixels = 20;
    int differing = 0;

    for (int y = 0; y < actual.getHeight(); ++y)
    {
        for (int x = 0; x < actual.getWidth(); ++x)
        {
            const auto a = actual.getPixelAt (x, y), b = golden.getPixelAt (x, y);

            if (std::abs (a.getRed() - b.getRed()) > tolerance || std::abs (a.getGreen() - b.getGreen()) > tolerance
                || std::abs (a.getBlue() - b.getBlue()) > tolerance)
                ++differing;
        }
    }

    EXPECT_LE (differing, allowedPixels) << "see " KELT_SCREENSHOT_DIR "/editor-meter-page.png";
}
