#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"

#include <KeltImages.h>

#include <limits>

namespace
{
    constexpr auto notANumber = std::numeric_limits<float>::quiet_NaN();
    const juce::Colour green (0xff81ca2f), red (0xffd70014), yellow (juce::Colours::yellow);

    juce::Image background (const char* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }

    bool isBlue (juce::Colour c)   { return c.getBlue() > 150 && c.getRed() < 120; }

    /** The middle of the blue pixels in one column of the picture. */
    float blueRowsMiddle (const juce::Image& image, int x)
    {
        int first = -1, last = -1;

        for (int y = 0; y < image.getHeight(); ++y)
            if (isBlue (image.getPixelAt (x, y)))
                last = (first < 0 ? (first = y) : y);

        return first < 0 ? -1.0f : 0.5f * (float) (first + last);
    }

    void writeScreenshot (juce::Component& editor, const juce::String& name)
    {
        const juce::File folder (KELT_SCREENSHOT_DIR);
        folder.createDirectory();
        const auto file = folder.getChildFile (name + ".png");
        file.deleteFile();
        juce::FileOutputStream out (file);
        juce::PNGImageFormat().writeImageToStream (editor.createComponentSnapshot (editor.getLocalBounds()), out);
    }
}

TEST (EditorRefresh, FormatsLoudnessValuesWithOneDecimalAndTheUnit)
{
    const struct { float value; const char* unit; const char* text; } cases[] = {
        { -23.0f, "LUFS", "-23.0 LUFS" }, { -60.0f, "LUFS", "-" }, { -59.9f, "LKFS", "-59.9 LKFS" },
        { 7.0f, "LU", "7.0 LU" }, { 0.0f, "LU", "0.0 LU" }, { -23.0f, "", "-23.0 " },
        { -70.0f, "LUFS", "-" }, { notANumber, "LUFS", "-" }, { std::numeric_limits<float>::infinity(), "LU", "-" },
        { -23.25f, "LUFS", "-23.3 LUFS" },   // halves round away from zero
        { -0.04f, "LU", "-0.0 LU" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (Kelt5_1liteAudioProcessorEditor::formatLoudnessValue (c.value, c.unit), c.text) << c.value;
}

TEST (EditorRefresh, ColoursTheValuesAndLightsThePeakIndicatorFromTheReadings)
{
    EditorTestbed t;
    ASSERT_TRUE (t.parts->complete());
    auto& parts = *t.parts;

    const struct { float loudness; juce::Colour integrated, shortTerm; } cases[] = {
        { -22.0f, green, green }, { -23.0f, green, green }, { -24.0f, green, green },
        { -21.9f, yellow, green }, { -20.6f, yellow, green }, { -24.1f, yellow, green }, { -28.4f, yellow, green },
        { -20.5f, red, green }, { -28.5f, red, green }, { -70.0f, red, green }, { notANumber, red, red },
        { -20.1f, red, green }, { -20.0f, red, red },
    };

    for (const auto& c : cases)
    {
        t.p.readings.integratedLoudness.store (c.loudness);
        t.p.readings.shortTermLoudness.store (c.loudness);
        t.tick();
        EXPECT_EQ (EditorParts::textColour (parts.integrated), c.integrated) << c.loudness;
        EXPECT_EQ (EditorParts::textColour (parts.shortTerm), c.shortTerm) << c.loudness;
    }

    for (auto [latch, lit] : { std::pair { 1, true }, { 0, false }, { 2, false } })
    {
        t.p.readings.truePeakOverload.store (latch);
        t.tick();
        EXPECT_EQ (parts.truePeakButton->getToggleState(), lit) << latch;
        EXPECT_EQ (parts.truePeakButton->isEnabled(), lit) << latch;
    }
}

TEST (EditorRefresh, ScaleAndModeChooseTheArtworkTheCaptionsAndTheUnits)
{
    EditorTestbed t;
    ASSERT_TRUE (t.parts->complete());
    auto& parts = *t.parts;
    t.p.readings.integratedLoudness.store (-23.0f);

    using namespace KeltImages;
    const struct { float scale; int mode; bool plus18; juce::Image artwork; const char* unit; } cases[] = {
        { 18.0f, 1, true,  background (meterebu18_png, meterebu18_pngSize),     "LUFS" },
        { 17.5f, 2, true,  background (meterother18_png, meterother18_pngSize), "LKFS" },
        { 18.5f, 1, true,  background (meterebu18_png, meterebu18_pngSize),     "LUFS" },
        { 9.0f,  3, false, background (meterother9_png, meterother9_pngSize),   "LKFS" },
        { 13.0f, 1, false, background (meterebu9_png, meterebu9_pngSize),       "LUFS" },
        { 17.4f, 1, false, background (meterebu9_png, meterebu9_pngSize),       "LUFS" },
        { 18.6f, 2, false, background (meterother9_png, meterother9_pngSize),   "LKFS" },
    };

    for (const auto& c : cases)
    {
        t.p.measurementScale.store (c.scale);
        parts.modeList->setSelectedId (c.mode, juce::dontSendNotification);
        t.tick();

        SCOPED_TRACE (c.scale);
        EXPECT_EQ (parts.scaleButton->getToggleState(), c.plus18);
        EXPECT_TRUE (parts.meterPage->getImage() == c.artwork);
        EXPECT_EQ (EditorParts::textColour (parts.scale18), c.plus18 ? juce::Colours::white : juce::Colours::darkgrey);
        EXPECT_EQ (EditorParts::textColour (parts.scale9), c.plus18 ? juce::Colours::darkgrey : juce::Colours::white);
        EXPECT_EQ (parts.scale18->getFont().isItalic(), ! c.plus18);
        EXPECT_EQ (parts.scale9->getFont().isItalic(), c.plus18);
        EXPECT_EQ (parts.integrated->getText(), juce::String ("-23.0 ") + c.unit);
        EXPECT_EQ (parts.meterUnit->getText(), juce::String ("MLk ") + c.unit);
    }

    EXPECT_EQ (parts.mode->getText(), "ATSC");
}

TEST (EditorRefresh, TheArrowGlidesAndTheRangeBandClosesAtOnce)
{
    EditorTestbed t;
    ASSERT_TRUE (t.parts->complete());
    auto& parts = *t.parts;

    t.p.readings.shortTermMeterPosition.store (1.0f);
    t.p.readings.rangeLowMeterPosition.store (0.25f);
    t.p.readings.rangeHighMeterPosition.store (0.75f);

    for (auto expected : { 0.1f, 0.19f, 0.271f, 0.3439f, 0.40951f })
    {
        t.tick();
        EXPECT_FLOAT_EQ (parts.arrow->position, expected);
    }

    for (int i = 0; i < 300; ++i)
        t.tick();

    EXPECT_EQ (parts.arrow->position, 0.99999976f);   // settles just below the top
    EXPECT_NEAR (parts.band->lowPosition, 0.25f, 1.0e-6f);
    EXPECT_NEAR (parts.band->highPosition, 0.75f, 1.0e-6f);

    // Nothing measured yet: the range ends lie far below the scale.
    t.p.readings.setInitialValues();
    t.tick();
    EXPECT_EQ (parts.band->lowPosition, 0.0f);
    EXPECT_EQ (parts.band->highPosition, 0.0f);
    EXPECT_FLOAT_EQ (parts.arrow->position, 0.9f * 0.99999976f);
}

TEST (EditorRefresh, ShowsAProgrammeAtTheTargetLoudnessAsAUserSeesIt)
{
    const struct { const char* name; std::vector<float> levels; } programmes[] = {
        { "stereo", { -23.0f, -23.0f } },
        { "5.1", { -28.0f, -28.0f, -24.0f, -100.0f, -30.0f, -30.0f } },
    };

    for (const auto& programme : programmes)
    {
        SCOPED_TRACE (programme.name);
        EditorTestbed t ((int) programme.levels.size());
        ASSERT_TRUE (t.parts->complete());
        auto& parts = *t.parts;

        t.play (programme.levels, 8.0);

        EXPECT_EQ (parts.integrated->getText(), "-23.0 LUFS");
        EXPECT_EQ (EditorParts::textColour (parts.integrated), green);
        EXPECT_EQ (parts.time->getText(), "00:00:08:00");

        // The bar's top and the arrow's tip at the background's -23 mark.
        const auto meterPage = t.editor->createComponentSnapshot (t.editor->getLocalBounds());
        const auto target = blueRowsMiddle (meterPage, 96);
        const auto barTop = (float) [&] { int y = 30; while (y < 502 && ! isBlue (meterPage.getPixelAt (70, y))) ++y; return y; }();
        EXPECT_NEAR (target, 30.0f + 41.0f + 158.0f, 1.0f);
        EXPECT_NEAR (barTop, target, 1.0f);
        EXPECT_NEAR (blueRowsMiddle (meterPage, 130), target, 1.0f);

        parts.tabBar->setCurrentTabIndex (1);
        parts.tabBar->dispatchPendingMessages();
        t.tick();

        for (auto* label : parts.statistics)
            EXPECT_EQ (label->getText(), label == parts.statistics[1] ? "0.0 " : "-23.0 ");

        if (programme.levels.size() == 2)
        {
            writeScreenshot (*t.editor, "statistics-page");
            parts.tabBar->setCurrentTabIndex (2);
            parts.tabBar->dispatchPendingMessages();
            writeScreenshot (*t.editor, "settings-page");
            parts.tabBar->setCurrentTabIndex (0);
            parts.tabBar->dispatchPendingMessages();
            writeScreenshot (*t.editor, "meter-page");
        }
    }
}
