#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"
#include "editor/PlayTimeText.h"

#include <cstdlib>
#include <limits>
#include <tuple>

namespace
{
    /** The top row of the blue in one column of a picture: a mark, the bar's
        top edge (x inside the bar), the arrow's tip (x at the arrow's point). */
    int blueRow (const juce::Image& image, int x)
    {
        for (int y = 0; y < image.getHeight(); ++y)
            if (const auto c = image.getPixelAt (x, y); c.getBlue() > 150 && c.getRed() < 120)
                return y;

        return -1;
    }
}

TEST (Editor, FormatsPlayTimes)
{
    // The last frame of a second shows the frame count of each rate.
    using Head = juce::AudioPlayHead;
    const std::tuple<double, double, Head::FrameRate, const char*> times[] = {
        { 178824000.0, 48000.0, Head::fps25, "01:02:05:12" },
        { 44099.0, 44100.0, Head::fps24, "00:00:00:00" }, // frame 24 wraps to 0 a sample before the second
        { 95.0, 10.0, Head::fps30, "00:00:09:00" }, // no whole sample per frame
        { 123456789.0, 0.0, Head::fps25, "00:00:00:00" },
        { -1.0, 48000.0, Head::fps30, "-00:00:00:00" },
        { std::numeric_limits<double>::quiet_NaN(), 48000.0, Head::fps30, "00:00:00:00" },
        { 1.0e300, 48000.0, Head::fps30, "596523:14:07:07" }, // stops at the largest count
    };

    for (const auto& [samples, rate, frameRate, text] : times)
        EXPECT_EQ (PlayTimeText::format (samples, rate, frameRate), text) << samples << " at " << rate;
}

// The editor as it opens against its golden picture, which KELT_UPDATE_GOLDEN=1
// rewrites instead (tests/editor/golden/README.md); then a programme as a
// user sees it, with a picture of each page for reviewers.
TEST (Editor, OpensAsItsGoldenPictureAndShowsAProgrammeAtTheTargetLoudness)
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

    t.editor->addToDesktop (0);
    t.play (-23.0f, 8.2);
    const juce::Colour green (0xff81ca2f), yellow = juce::Colours::yellow, red (0xffd70014);
    auto& integrated = t.at (1, 154, 75);

    EXPECT_EQ (integrated.getText(), "-23.0 LUFS");
    EXPECT_EQ (integrated.findColour (juce::Label::textColourId), green);
    EXPECT_EQ (t.at (1, 154, 285).getText(), "00:00:08:05"); // 205 frames of 25 fps

    // The bar's top and the arrow's tip on the background's -23 mark.
    const auto picture = t.snapshot();
    const auto mark = blueRow (picture, 96);
    EXPECT_NEAR (mark, 30 + 41 + 158, 1);
    EXPECT_NEAR (blueRow (picture, 70), mark, 1);
    EXPECT_NEAR (blueRow (picture, 127), mark, 1);

    // A click on a tab shows its page alone.
    for (int tab : { 1, 2, 0 })
    {
        t.click (t.tabs().getTabButton (tab)->getBounds().getCentre().toFloat());
        t.tabs().dispatchPendingMessages();
        EXPECT_TRUE (writePng (t.snapshot(), juce::StringArray { "meter", "statistics", "settings" }[tab] + "-page.png"));

        for (int page = 1; page <= 3; ++page)
            EXPECT_EQ (t.editor->getChildComponent (page)->isVisible(), page == (tab == 0 ? 1 : 4 - tab)) << tab;
    }

    for (int row = 0; row < 4; ++row)
        EXPECT_EQ (t.statistic (row).getText(), row == 1 ? "0.0 " : "-23.0 ");

    // Readings at the edges of the integrated one's green and yellow bands and
    // of the short-term one's green, a tie to round, and not a number.
    const std::tuple<float, const char*, juce::Colour, juce::Colour> readings[] = {
        { -22.0f, "-22.0 LUFS", green, green },
        { -24.0f, "-24.0 LUFS", green, green },
        { -28.25f, "-28.3 LUFS", yellow, green },
        { -28.5f, "-28.5 LUFS", red, green },
        { -20.0f, "-20.0 LUFS", red, red },
        { std::numeric_limits<float>::quiet_NaN(), "-", red, red },
    };

    for (const auto& [loudness, text, integratedColour, shortTermColour] : readings)
    {
        t.p.readings.integratedLoudness.store (loudness);
        t.p.readings.shortTermLoudness.store (loudness);
        t.tick();
        EXPECT_EQ (integrated.getText(), text) << loudness;
        EXPECT_EQ (integrated.findColour (juce::Label::textColourId), integratedColour) << loudness;
        EXPECT_EQ (t.at (1, 154, 135).findColour (juce::Label::textColourId), shortTermColour) << loudness;
    }

    // A reset empties the display at the next tick.
    t.editor->buttonClicked (&t.at<juce::Button> (1, 154, 369));
    t.tick();
    EXPECT_EQ (t.at (1, 154, 285).getText(), "00:00:00:00");

    for (auto* label : { &integrated, &t.at (1, 154, 135), &t.at (1, 154, 195), &t.statistic (0), &t.statistic (3) })
        EXPECT_EQ (label->getText(), "-");
}
