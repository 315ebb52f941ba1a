#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"

#include "KeltImages.h"

#include <cstdlib>
#include <iterator>

namespace
{
    juce::String hex (juce::Component& c, int colourId) { return juce::String::toHexString ((int) c.findColour (colourId).getARGB()); }

    /** One child of a page as a line: its bounds, then what a user sees of it
        and whether it takes clicks. */
    juce::String describe (juce::Component& page, int index)
    {
        auto& c = *page.getChildComponent (index);
        auto text = c.getBounds().toString() + (c.isVisible() ? "" : " hidden");
        bool takesClicks = false, childrenTakeClicks = false;
        c.getInterceptsMouseClicks (takesClicks, childrenTakeClicks);

        if (auto* label = dynamic_cast<juce::Label*> (&c))
            text << " '" << label->getText() << "' " << label->getFont().getHeight() << (label->getFont().isItalic() ? " italic" : "")
                 << (label->getJustificationType() == juce::Justification::centred ? " centred" : "")
                 << (takesClicks || childrenTakeClicks ? "" : " no clicks")
                 << (label->findColour (juce::Label::textColourId) == juce::Colours::white ? "" : " " + hex (c, juce::Label::textColourId))
                 << (label->isColourSpecified (juce::Label::backgroundColourId) ? " on " + hex (c, juce::Label::backgroundColourId) : "")
                 << (label->getAttachedComponent() == nullptr ? "" : label->getAttachedComponent() == page.getChildComponent (index + 1) ? " attached"
                                                                                                                                         : " attached elsewhere");
        else if (auto* link = dynamic_cast<juce::HyperlinkButton*> (&c))
            text << " " << link->getButtonText() << " " << link->getURL().toString (false);
        else if (auto* button = dynamic_cast<juce::Button*> (&c))
            text << (button->isEnabled() ? "" : " disabled") << (button->getClickingTogglesState() ? " toggles" : "")
                 << (button->getToggleState() ? " on" : "");
        else if (auto* list = dynamic_cast<juce::ComboBox*> (&c))
        {
            text << " " << list->getSelectedId() << " of";

            for (int i = 0; i < list->getNumItems(); ++i)
                text << " " << list->getItemText (i) << "=" << list->getItemId (i);

            text << " " << hex (c, juce::ComboBox::backgroundColourId) << " " << hex (c, juce::ComboBox::outlineColourId);
        }

        return text;
    }
}

TEST (Editor, OpensWithItsPagesAsLaidOut)
{
    EditorTestbed t;
    EXPECT_EQ (t.editor->getBounds(), juce::Rectangle<int> (0, 0, 249, 502));
    EXPECT_FALSE (t.editor->isResizable());
    EXPECT_TRUE (dynamic_cast<juce::ImageComponent&> (*t.editor->getChildComponent (1)).getImage()
                 == juce::ImageCache::getFromMemory (KeltImages::meterebu9_png, KeltImages::meterebu9_pngSize));

    juce::StringArray tabs;

    for (int i = 0; i < t.tabs().getNumTabs(); ++i)
        tabs.add (t.tabs().getTabNames()[i] + " " + juce::String::toHexString ((int) t.tabs().getTabBackgroundColour (i).getARGB()));

    EXPECT_EQ (tabs.joinIntoString ("|"), juce::String::fromUTF8 ("\xc2\xa0 Meter \xc2\xa0 ff000000|\xc2\xa0Statistics\xc2\xa0 ffd8d8d8|"
                                                                  "\xc2\xa0 Settings \xc2\xa0 ffd8d8d8"));
    EXPECT_EQ (t.tabs().getCurrentTabIndex(), 0);

    // The Meter, Settings and Statistics pages, each child in the order of adding.
    const char* const layout[] = {
        "page 0 30 249 472",
        "58 41 25 352",
        "126 41 16 352",
        "110 41 16 352",
        "210 37 20 20 disabled toggles",
        "167 17 90 60 'Peak' 17 no clicks",
        "154 285 84 60 '00:00:00:00' 15 no clicks",
        "154 248 84 60 'EBU' 15 centred no clicks ff81ca2f",
        "13 408 120 20 'MLk LUFS' 17 centred no clicks on ff000000",
        "154 330 84 24 disabled toggles",
        "154 369 84 24",
        "154 75 84 60 '' 15 centred",
        "154 92 84 60 'Integrated' 14 centred",
        "154 135 84 60 '' 15 centred",
        "154 152 84 60 'Short Term' 14 centred",
        "154 195 84 60 '' 15 centred",
        "154 212 84 60 'Range' 14 centred",
        "170 410 40 17 toggles",
        "130 390 140 60 '+18' 14 italic no clicks ff555555",
        "210 390 140 60 '+9' 14 italic no clicks ff555555",
        "8 439 60 25",
        "80 4 80 25 'Kelt5.1 LE' 15 no clicks",
        "page 0 30 249 472 hidden",
        "10 15 249 20 'Loudness Metering Mode:' 15",
        "15 40 90 15 1 of EBU=1 ATSC=2 ARIB=3 ffd8d8d8 ff979797",
        "10 60 249 20 'True Peak Limit:' 15",
        "15 85 90 15 1 of -1=1 -2=2 -3=3 -4=4 -6=5 -9=6 -10=7 -12=8 ffd8d8d8 ff979797",
        "0 276 249 40 'Kelt5.1LE Version:1.0.1\nBuild:510' 14 centred no clicks",
        "85 352 80 20 Contact us https://vesk-audio.example/contact-us/",
        "85 382 80 20 User Guide https://vesk-audio.example/support/",
        "30 150 194 60",
        "page 0 30 249 472 hidden",
        "8 439 60 25",
        "13 15 150 60 'Program Loudness:' 14 no clicks",
        "180 15 10 60 '' 14 no clicks attached",
        "190 15 130 60 'LUFS' 14 no clicks",
        "13 45 130 60 'Loudness Range:' 14 no clicks",
        "180 45 10 60 '' 14 no clicks attached",
        "190 45 130 60 'LU' 14 no clicks",
        "13 75 220 60 'Max. S.T. Loudness:' 14 no clicks",
        "180 75 10 60 '' 14 no clicks attached",
        "190 75 130 60 'LUFS' 14 no clicks",
        "13 105 220 60 'Max. Mom. Loudness:' 14 no clicks",
        "180 105 10 60 '' 14 no clicks attached",
        "190 105 130 60 'LUFS' 14 no clicks",
    };

    juce::StringArray actual;
    ASSERT_EQ (t.editor->getNumChildComponents(), 4);

    for (int page = 1; page <= 3; ++page)
    {
        auto* component = t.editor->getChildComponent (page);
        actual.add ("page " + component->getBounds().toString() + (component->isVisible() ? "" : " hidden"));

        for (int i = 0; i < component->getNumChildComponents(); ++i)
            actual.add (describe (*component, i));
    }

    ASSERT_EQ (actual.size(), (int) std::size (layout));

    for (int i = 0; i < actual.size(); ++i)
        EXPECT_EQ (actual[i], layout[i]) << "line " << i;
}

// KELT_UPDATE_GOLDEN=1 rewrites the golden picture (tests/editor/golden/README.md).
TEST (Editor, MeterPageMatchesItsGoldenPicture)
{
    EditorTestbed t;
    const auto actual = t.snapshot();
    const auto goldenFile = juce::File (KELT_GOLDEN_DIR).getChildFile ("editor-meter-page.png");
    EXPECT_TRUE (writePng (actual, "editor-meter-page.png"));

    if (std::getenv ("KELT_UPDATE_GOLDEN") != nullptr)
    {
        EXPECT_TRUE (writePng (actual, goldenFile.getFullPathName()));
        GTEST_SKIP() << "rewrote " << goldenFile.getFullPathName();
    }

    const auto golden = juce::ImageFileFormat::loadFrom (goldenFile);
    ASSERT_EQ (golden.getBounds(), actual.getBounds()) << goldenFile.getFullPathName();

    // Rasterisers may differ by a shade on an edge; a moved element changes
    // hundreds of pixels by far more.
    int differing = 0;

    for (int y = 0; y < actual.getHeight(); ++y)
        for (int x = 0; x < actual.getWidth(); ++x)
            for (auto [a, g] : { std::pair { actual.getPixelAt (x, y), golden.getPixelAt (x, y) } })
                differing += std::abs (a.getRed() - g.getRed()) > 24 || std::abs (a.getGreen() - g.getGreen()) > 24 || std::abs (a.getBlue() - g.getBlue()) > 24 ? 1 : 0;

    EXPECT_LE (differing, 20) << "see " KELT_SCREENSHOT_DIR "/editor-meter-page.png";
}
