#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"

#include <KeltImages.h>

#include <limits>
#include <map>

namespace
{
    constexpr auto notANumber = std::numeric_limits<float>::quiet_NaN();
    const juce::Colour green (0xff81ca2f), red (0xffd70014), yellow (juce::Colours::yellow);

    bool isBlue (juce::Colour c) { return c.getBlue() > 150 && c.getRed() < 120; }

    /** The middle of the blue run in one column of a picture: a mark, the
        bar's top edge (x inside the bar, from its top), the arrow's tip. */
    float blueRow (const juce::Image& image, int x, bool firstOnly = false)
    {
        int first = -1, last = -1;

        for (int y = 0; y < image.getHeight(); ++y)
            if (isBlue (image.getPixelAt (x, y)))
                last = (first < 0 ? (first = y) : y);

        return firstOnly ? (float) first : 0.5f * (float) (first + last);
    }
}

TEST (EditorRefresh, FormatsLoudnessValuesWithOneDecimalAndTheUnit)
{
    const struct
    {
        float value;
        const char* unit;
        const char* text;
    } cases[] = {
        { -23.0f, "LUFS", "-23.0 LUFS" },
        { -60.0f, "LUFS", "-" },
        { -59.9f, "LKFS", "-59.9 LKFS" },
        { 7.0f, "LU", "7.0 LU" },
        { notANumber, "LUFS", "-" },
        { std::numeric_limits<float>::infinity(), "LU", "-" },
        { -23.25f, "LUFS", "-23.3 LUFS" },
        { -0.04f, "LU", "-0.0 LU" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (Kelt5_1liteAudioProcessorEditor::formatLoudnessValue (c.value, c.unit), c.text) << c.value;
}

TEST (EditorRefresh, ShowsEachReadingInItsColourAndPlaceAndEachScaleAndModeInItsArtwork)
{
    EditorTestbed t;
    auto& integrated = t.at (1, 154, 75);
    auto& shortTerm = t.at (1, 154, 135);
    auto& peak = t.at<juce::Button> (1, 210, 37);

    // The edges of the green and yellow bands, either side: integrated and short-term colour.
    const std::map<char, juce::Colour> colour { { 'g', green }, { 'y', yellow }, { 'r', red } };
    const struct
    {
        float loudness;
        const char* colours;
    } colours[] = {
        { -22.0f, "gg" },
        { -24.0f, "gg" },
        { -21.9f, "yg" },
        { -24.1f, "yg" },
        { -28.4f, "yg" },
        { -20.6f, "yg" },
        { -20.5f, "rg" },
        { -28.5f, "rg" },
        { notANumber, "rr" },
        { -20.1f, "rg" },
        { -20.0f, "rr" },
    };

    for (const auto& c : colours)
    {
        t.p.readings.integratedLoudness.store (c.loudness);
        t.p.readings.shortTermLoudness.store (c.loudness);
        t.tick();
        EXPECT_EQ (EditorTestbed::textColour (integrated), colour.at (c.colours[0])) << c.loudness;
        EXPECT_EQ (EditorTestbed::textColour (shortTerm), colour.at (c.colours[1])) << c.loudness;
    }

    for (auto [latch, lit] : { std::pair { 1, true }, { 0, false }, { 2, false } })
    {
        t.p.readings.truePeakOverload.store (latch);
        t.tick();
        EXPECT_TRUE (peak.getToggleState() == lit && peak.isEnabled() == lit) << latch;
    }

    auto& page = dynamic_cast<juce::ImageComponent&> (*t.editor->getChildComponent (1));
    auto& plus18 = t.at (1, 130, 390);
    auto& plus9 = t.at (1, 210, 390);
    t.p.readings.integratedLoudness.store (-23.0f);

    using namespace KeltImages;
    const auto image = [] (const char* data, int size) { return juce::ImageCache::getFromMemory (data, size); };
    const auto ebu18 = image (meterebu18_png, meterebu18_pngSize), ebu9 = image (meterebu9_png, meterebu9_pngSize);
    const auto other18 = image (meterother18_png, meterother18_pngSize), other9 = image (meterother9_png, meterother9_pngSize);

    const struct
    {
        float scale;
        int mode;
        bool on18;
        juce::Image artwork;
        const char* unit;
    } states[] = {
        { 18.0f, 1, true, ebu18, "LUFS" },
        { 17.5f, 2, true, other18, "LKFS" },
        { 18.5f, 1, true, ebu18, "LUFS" },
        { 9.0f, 3, false, other9, "LKFS" },
        { 13.0f, 1, false, ebu9, "LUFS" },
        { 17.4f, 1, false, ebu9, "LUFS" },
        { 18.6f, 2, false, other9, "LKFS" },
    };

    for (const auto& c : states)
    {
        SCOPED_TRACE (c.scale);
        t.p.measurementScale.store (c.scale);
        t.at<juce::ComboBox> (2, 15, 40).setSelectedId (c.mode, juce::dontSendNotification);
        t.tick();

        EXPECT_EQ (t.at<juce::Button> (1, 170, 410).getToggleState(), c.on18);
        EXPECT_TRUE (page.getImage() == c.artwork);
        EXPECT_EQ (EditorTestbed::textColour (c.on18 ? plus18 : plus9), juce::Colours::white);
        EXPECT_EQ (EditorTestbed::textColour (c.on18 ? plus9 : plus18), juce::Colours::darkgrey);
        EXPECT_TRUE (plus18.getFont().isItalic() != c.on18 && plus9.getFont().isItalic() == c.on18);
        EXPECT_EQ (integrated.getText(), juce::String ("-23.0 ") + c.unit);
    }

    // The arrow glides toward the reading; the range band follows at once.
    auto& arrow = t.at<TarnJuceArrowVU> (1, 126, 41);
    auto& band = t.at<TarnJuceLRVU> (1, 110, 41);
    t.p.readings.shortTermMeterPosition.store (1.0f);
    t.p.readings.rangeHighMeterPosition.store (0.75f);

    for (auto expected : { 0.1f, 0.19f, 0.271f, 0.3439f, 0.40951f })
    {
        t.tick();
        EXPECT_FLOAT_EQ (arrow.position, expected);
    }

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

// Also the pictures for reviewers: each page, and the three meters at the target.
TEST (EditorRefresh, ShowsAProgrammeAtTheTargetLoudnessAsAUserSeesIt)
{
    const std::vector<float> programmes[] = { { -23.0f, -23.0f }, { -28.0f, -28.0f, -24.0f, -100.0f, -30.0f, -30.0f } };

    for (const auto& levels : programmes)
    {
        SCOPED_TRACE (levels.size());
        EditorTestbed t ((int) levels.size());
        t.play (levels, 8.2);

        EXPECT_EQ (t.at (1, 154, 75).getText(), "-23.0 LUFS");
        EXPECT_EQ (EditorTestbed::textColour (t.at (1, 154, 75)), green);
        EXPECT_EQ (t.at (1, 154, 285).getText(), "00:00:08:05"); // 205 frames of 25 fps

        // The bar's top and the arrow's tip on the background's -23 mark.
        const auto picture = t.snapshot();
        const auto mark = blueRow (picture, 96);
        EXPECT_NEAR (mark, 30.0f + 41.0f + 158.0f, 1.0f);
        EXPECT_NEAR (blueRow (picture, 70, true), mark, 1.0f);
        EXPECT_NEAR (blueRow (picture, 130), mark, 1.0f);

        t.showTab (1);
        t.tick();

        for (int row = 0; row < 4; ++row)
            EXPECT_EQ (t.statistic (row).getText(), row == 1 ? "0.0 " : "-23.0 ");

        if (levels.size() == 2)
        {
            EXPECT_TRUE (writePng (picture.getClippedImage ({ 0, 30, 160, 420 }), "meters-at-the-target.png"));

            for (auto [tab, name] : { std::pair { 1, "statistics-page.png" }, { 2, "settings-page.png" }, { 0, "meter-page.png" } })
            {
                t.showTab (tab);
                EXPECT_TRUE (writePng (t.snapshot(), name));
            }
        }
    }
}
