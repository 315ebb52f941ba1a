#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"
#include "editor/PlayTimeText.h"

#include <cstdlib>
#include <limits>
#include <tuple>

namespace
{
    const juce::Colour green (0xff81ca2f);

    /** The middle of the blue run in one column of a picture: a mark, the
        bar's top edge (x inside the bar, from its top), the arrow's tip. */
    float blueRow (const juce::Image& image, int x, bool firstOnly = false)
    {
        int first = -1, last = -1;

        for (int y = 0; y < image.getHeight(); ++y)
            if (const auto c = image.getPixelAt (x, y); c.getBlue() > 150 && c.getRed() < 120)
                last = (first < 0 ? (first = y) : y);

        return firstOnly ? (float) first : 0.5f * (float) (first + last);
    }
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

TEST (Editor, FormatsLoudnessValuesAndPlayTimes)
{
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<float, const char*> values[] = {
        { -23.25f, "-23.3 LU" },
        { -60.0f, "-" },
        { (float) nan, "-" },
        { std::numeric_limits<float>::infinity(), "-" },
    };

    for (const auto& [value, text] : values)
        EXPECT_EQ (Kelt5_1liteAudioProcessorEditor::formatLoudnessValue (value, "LU"), text) << value;

    // The last frame of a second shows the frame count of each rate.
    using Head = juce::AudioPlayHead;
    const std::tuple<double, double, Head::FrameRate, const char*> times[] = {
        { 178824000.0, 48000.0, Head::fps25, "01:02:05:12" },
        { 44099.0, 44100.0, Head::fps24, "00:00:00:00" }, // frame 24 wraps to 0 a sample before the second
        { 15876000000.0, 44100.0, Head::fps30, "100:00:00:00" }, // hours are never cut
        { 95.0, 10.0, Head::fps30, "00:00:09:00" }, // no whole sample per frame
        { 123456789.0, 0.0, Head::fps25, "00:00:00:00" },
        { -1.0, 48000.0, Head::fps30, "-00:00:00:00" },
        { nan, 48000.0, Head::fps30, "00:00:00:00" },
        { 1.0e300, 48000.0, Head::fps30, "596523:14:07:07" }, // stops at the largest count
    };

    for (const auto& [samples, rate, frameRate, text] : times)
        EXPECT_EQ (PlayTimeText::format (samples, rate, frameRate), text) << samples << " at " << rate;
}

// Also the pictures for reviewers, one of each page.
TEST (Editor, ShowsAProgrammeAtTheTargetLoudnessAsAUserSeesIt)
{
    EditorTestbed t;
    t.play (-23.0f, 8.2);
    auto& integrated = t.at (1, 154, 75);

    EXPECT_EQ (integrated.getText(), "-23.0 LUFS");
    EXPECT_EQ (textColour (integrated), green);
    EXPECT_EQ (t.at (1, 154, 285).getText(), "00:00:08:05"); // 205 frames of 25 fps

    // The bar's top and the arrow's tip on the background's -23 mark.
    const auto picture = t.snapshot();
    const auto mark = blueRow (picture, 96);
    EXPECT_NEAR (mark, 30.0f + 41.0f + 158.0f, 1.0f);
    EXPECT_NEAR (blueRow (picture, 70, true), mark, 1.0f);
    EXPECT_NEAR (blueRow (picture, 130), mark, 1.0f);
    EXPECT_TRUE (writePng (picture, "meter-page.png"));

    for (auto [tab, name] : { std::pair { 1, "statistics-page.png" }, { 2, "settings-page.png" } })
    {
        t.tabs().setCurrentTabIndex (tab);
        t.tabs().dispatchPendingMessages();
        t.tick();
        EXPECT_TRUE (writePng (t.snapshot(), name));
    }

    for (int row = 0; row < 4; ++row)
        EXPECT_EQ (t.statistic (row).getText(), row == 1 ? "0.0 " : "-23.0 ");

    // The integrated reading at the edges of the green and yellow bands, the
    // short-term one at its single edge.
    const juce::Colour yellow = juce::Colours::yellow, red (0xffd70014);
    const std::tuple<float, juce::Colour, juce::Colour> edges[] = {
        { -22.0f, green, green },
        { -24.0f, green, green },
        { -28.4f, yellow, green },
        { -28.5f, red, green },
        { -20.0f, red, red },
    };

    for (const auto& [loudness, integratedColour, shortTermColour] : edges)
    {
        t.p.readings.integratedLoudness.store (loudness);
        t.p.readings.shortTermLoudness.store (loudness);
        t.tick();
        EXPECT_EQ (textColour (integrated), integratedColour) << loudness;
        EXPECT_EQ (textColour (t.at (1, 154, 135)), shortTermColour) << loudness;
    }

    // A reset empties the display at the next tick.
    t.editor->buttonClicked (&t.at<juce::Button> (1, 154, 369));
    t.tick();
    EXPECT_EQ (t.at (1, 154, 285).getText(), "00:00:00:00");

    for (auto* label : { &integrated, &t.at (1, 154, 135), &t.at (1, 154, 195), &t.statistic (0), &t.statistic (3) })
        EXPECT_EQ (label->getText(), "-");
}
