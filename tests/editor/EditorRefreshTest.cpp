#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"
#include "editor/PlayTimeText.h"

#include <KeltImages.h>

#include <limits>
#include <map>

namespace
{
    constexpr auto notANumber = std::numeric_limits<float>::quiet_NaN();
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

TEST (EditorRefresh, FormatsLoudnessValuesAndPlayTimes)
{
    const struct
    {
        float value;
        const char* unit;
        const char* text;
    } values[] = {
        { -23.0f, "LUFS", "-23.0 LUFS" },
        { -60.0f, "LUFS", "-" },
        { -59.9f, "LKFS", "-59.9 LKFS" },
        { 7.0f, "LU", "7.0 LU" },
        { notANumber, "LUFS", "-" },
        { std::numeric_limits<float>::infinity(), "LU", "-" },
        { -23.25f, "LUFS", "-23.3 LUFS" },
        { -0.04f, "LU", "-0.0 LU" },
    };

    for (const auto& c : values)
        EXPECT_EQ (Kelt5_1liteAudioProcessorEditor::formatLoudnessValue (c.value, c.unit), c.text) << c.value;

    // The last frame of a second shows the frame count of each rate.
    using Head = juce::AudioPlayHead;
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    const struct
    {
        double samples, rate;
        Head::FrameRate frameRate;
        const char* text;
    } times[] = {
        { 178824000.0, 48000.0, Head::fps25, "01:02:05:12" },
        { 44099.0, 44100.0, Head::fps24, "00:00:00:00" }, // frame 24 wraps to 0 a sample before the second
        { 47999.0, 48000.0, Head::fps23976, "00:00:00:23" },
        { 47999.0, 48000.0, Head::fps2997drop, "00:00:00:29" },
        { 47999.0, 48000.0, Head::fps60, "00:00:00:29" },
        { 47999.0, 48000.0, Head::fpsUnknown, "00:00:00:29" },
        { 15876000000.0, 44100.0, Head::fps30, "100:00:00:00" }, // hours are never cut
        { 95.0, 10.0, Head::fps30, "00:00:09:00" }, // no whole sample per frame
        { 123456789.0, 0.0, Head::fps25, "00:00:00:00" },
        { -1.0, 48000.0, Head::fps30, "-00:00:00:00" },
        { nan, 48000.0, Head::fps30, "00:00:00:00" },
        { 1.0e6, nan, Head::fps30, "00:00:00:00" },
        { 1.0e300, 48000.0, Head::fps30, "596523:14:07:07" }, // stops at the largest count
    };

    for (const auto& c : times)
        EXPECT_EQ (PlayTimeText::format (c.samples, c.rate, c.frameRate), c.text) << c.samples << " at " << c.rate;
}

TEST (EditorRefresh, ShowsEachReadingInItsColourAndPlaceAndEachScaleAndModeInItsArtwork)
{
    EditorTestbed t;
    auto& integrated = t.at (1, 154, 75);
    auto& shortTerm = t.at (1, 154, 135);

    // The edges of the green and yellow bands, either side: integrated and short-term colour.
    const std::map<char, juce::Colour> colour { { 'g', green }, { 'y', juce::Colours::yellow }, { 'r', juce::Colour (0xffd70014) } };
    const std::pair<float, const char*> colours[] = {
        { -22.0f, "gg" },
        { -24.0f, "gg" },
        { -21.9f, "yg" },
        { -24.1f, "yg" },
        { -28.4f, "yg" },
        { -20.6f, "yg" },
        { -20.5f, "rg" },
        { -28.5f, "rg" },
        { -20.1f, "rg" },
        { -20.0f, "rr" },
        { notANumber, "rr" },
    };

    for (const auto& [loudness, expected] : colours)
    {
        t.p.readings.integratedLoudness.store (loudness);
        t.p.readings.shortTermLoudness.store (loudness);
        t.tick();
        EXPECT_EQ (textColour (integrated), colour.at (expected[0])) << loudness;
        EXPECT_EQ (textColour (shortTerm), colour.at (expected[1])) << loudness;
    }

    auto& page = dynamic_cast<juce::ImageComponent&> (*t.editor->getChildComponent (1));
    auto& plus18 = t.at (1, 130, 390);
    auto& plus9 = t.at (1, 210, 390);
    t.p.readings.integratedLoudness.store (-23.0f);

    const struct
    {
        float scale;
        int mode;
        bool on18;
        const char* artwork;
        const char* unit;
    } states[] = {
        { 18.0f, 1, true, "meterebu18_png", "LUFS" },
        { 17.5f, 2, true, "meterother18_png", "LKFS" },
        { 18.5f, 1, true, "meterebu18_png", "LUFS" },
        { 9.0f, 3, false, "meterother9_png", "LKFS" },
        { 13.0f, 1, false, "meterebu9_png", "LUFS" },
        { 17.4f, 1, false, "meterebu9_png", "LUFS" },
        { 18.6f, 2, false, "meterother9_png", "LKFS" },
    };

    for (const auto& c : states)
    {
        SCOPED_TRACE (c.scale);
        t.p.measurementScale.store (c.scale);
        t.at<juce::ComboBox> (2, 15, 40).setSelectedId (c.mode, juce::dontSendNotification);
        t.tick();

        EXPECT_EQ (t.at<juce::Button> (1, 170, 410).getToggleState(), c.on18);
        int size = 0;
        const auto* artwork = KeltImages::getNamedResource (c.artwork, size);
        EXPECT_TRUE (page.getImage() == juce::ImageCache::getFromMemory (artwork, size));
        EXPECT_TRUE (textColour (c.on18 ? plus18 : plus9) == juce::Colours::white && textColour (c.on18 ? plus9 : plus18) == juce::Colours::darkgrey);
        EXPECT_TRUE (plus18.getFont().isItalic() != c.on18 && plus9.getFont().isItalic() == c.on18);
        EXPECT_EQ (integrated.getText(), juce::String ("-23.0 ") + c.unit);
    }

    // The arrow glides toward the reading; the range band follows at once.
    auto& arrow = t.at<TarnJuceArrowVU> (1, 126, 41);
    auto& band = t.at<TarnJuceLRVU> (1, 110, 41);
    t.p.readings.shortTermMeterPosition.store (1.0f);
    t.p.readings.rangeHighMeterPosition.store (0.75f);

    t.tick();
    t.tick();
    EXPECT_FLOAT_EQ (arrow.position, 0.19f);

    for (int i = 0; i < 300; ++i)
        t.tick();

    EXPECT_EQ (arrow.position, 0.99999976f); // settles just below the top
    EXPECT_NEAR (band.highPosition, 0.75f, 1.0e-6f);

    // Nothing measured: the range ends lie far below the scale.
    t.p.readings.setInitialValues();
    t.tick();
    EXPECT_EQ (band.highPosition, 0.0f);
    EXPECT_FLOAT_EQ (arrow.position, 0.9f * 0.99999976f);
}

// Also the pictures for reviewers, one of each page.
TEST (EditorRefresh, ShowsAProgrammeAtTheTargetLoudnessAsAUserSeesIt)
{
    EditorTestbed t;
    t.play (-23.0f, 8.2);

    EXPECT_EQ (t.at (1, 154, 75).getText(), "-23.0 LUFS");
    EXPECT_EQ (textColour (t.at (1, 154, 75)), green);
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
}
