#include <gtest/gtest.h>

#include "editor/Kelt5_1liteAudioProcessorEditor.h"
#include "editor/TarnJuceArrowVU.h"
#include "editor/TarnJuceLRVU.h"
#include "editor/TarnJuceVU.h"
#include "processor/Kelt5_1liteAudioProcessor.h"

#include <limits>

namespace
{
    // Every pixel of a test image names its image and its own row, so a
    // rendered row tells which image row landed there.
    juce::Image rowCoded (int id, int width, int height)
    {
        juce::Image image (juce::Image::ARGB, width, height, false);

        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixelAt (x, y, juce::Colour ((juce::uint8) (y & 0xff), (juce::uint8) (id * 16 + (y >> 8)),
                                                      (juce::uint8) 0x40, (juce::uint8) 0xff));
        return image;
    }

    /** A run of component rows that show rows of one image: image row = row - offset. */
    struct RowRun { int first, last, id, offset; };

    /** Paints the component over a backdrop that no test image uses and
        compares each row's middle pixel with the runs; other rows must stay
        unpainted. */
    ::testing::AssertionResult showsRuns (juce::Component& component, std::vector<RowRun> runs)
    {
        const auto backdrop = juce::Colour (0xff0000ff);
        juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
        {
            juce::Graphics g (image);
            g.fillAll (backdrop);
            component.paintEntireComponent (g, false);
        }

        for (int y = 0; y < image.getHeight(); ++y)
        {
            const auto pixel = image.getPixelAt (image.getWidth() / 2, y);
            juce::String expected = "unpainted", actual = "unpainted";

            for (const auto& run : runs)
                if (y >= run.first && y <= run.last)
                    expected = juce::String (run.id) + "/" + juce::String (y - run.offset);

            if (pixel != backdrop)
                actual = juce::String (pixel.getGreen() / 16) + "/" + juce::String (pixel.getRed() + (pixel.getGreen() % 16) * 256);

            if (expected != actual)
                return ::testing::AssertionFailure() << "row " << y << ": expected image/row " << expected << ", got " << actual;
        }

        return ::testing::AssertionSuccess();
    }

    /** Counts the repaints that reach a component. */
    struct RepaintCounter final : public juce::CachedComponentImage
    {
        void paint (juce::Graphics&) override {}
        bool invalidateAll() override                           { ++count; return true; }
        bool invalidate (const juce::Rectangle<int>&) override  { ++count; return true; }
        void releaseResources() override {}

        int count = 0;
    };

    constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
}

TEST (TarnJuceVU, LightsTheRowsOfItsLevelAndClampsIt)
{
    const struct { float newLevel, stored; std::vector<RowRun> runs; } cases[] = {
        { 0.0f,           0.0f,           { { 0, 349, 1, 0 } } },
        { 0.5f,           0.5f,           { { 0, 175, 1, 0 }, { 176, 349, 2, 0 } } },
        // One or two lit rows would lie below the 350-row image.
        { 1.0f / 352.0f,  1.0f / 352.0f,  { { 0, 349, 1, 0 } } },
        { 2.0f / 352.0f,  2.0f / 352.0f,  { { 0, 349, 1, 0 } } },
        { 1.0f,           1.0f,           { { 0, 349, 2, 0 } } },
        { 1.7f,           1.0f,           { { 0, 349, 2, 0 } } },
        { -3.0f,          0.0f,           { { 0, 349, 1, 0 } } },
        { notANumber,     0.0f,           { { 0, 349, 1, 0 } } },
    };

    for (const auto& c : cases)
    {
        TarnJuceVU meter (rowCoded (1, 25, 350), rowCoded (2, 25, 350));
        meter.setBounds (0, 0, 25, 352);
        meter.setLevel (0.25f);
        meter.setLevel (c.newLevel);

        EXPECT_EQ (meter.getName(), "VUMeter");
        EXPECT_EQ (meter.getLevel(), c.stored) << c.newLevel;
        EXPECT_TRUE (showsRuns (meter, c.runs)) << "level " << c.newLevel;
    }
}

TEST (TarnJuceVU, RepaintsOnlyWhenTheClampedLevelChanges)
{
    TarnJuceVU meter (rowCoded (1, 25, 350), rowCoded (2, 25, 350));
    meter.setBounds (0, 0, 25, 352);
    meter.setVisible (true);
    auto* counter = new RepaintCounter();
    meter.setCachedComponentImage (counter);
    counter->count = 0;

    const struct { float newLevel; int repaints; } steps[] = {
        { 0.0f, 0 }, { 0.5f, 1 }, { 0.5f, 1 }, { 0.7f, 2 }, { 1.7f, 3 }, { 2.0f, 3 }, { 1.0f, 3 },
        { -1.0f, 4 }, { 0.0f, 4 }, { notANumber, 4 },
    };

    for (const auto& step : steps)
    {
        meter.setLevel (step.newLevel);
        EXPECT_EQ (counter->count, step.repaints) << "after " << step.newLevel;
    }
}

TEST (TarnJuceArrowVU, PutsTheArrowsMiddleRowOnItsPosition)
{
    const struct { float position; bool validArrow; std::vector<RowRun> runs; } cases[] = {
        // The tip falls one row below the strip and is not drawn.
        { 0.0f, true,  { { 0, 342, 3, 0 }, { 343, 351, 4, 343 } } },
        { 0.5f, true,  { { 0, 166, 3, 0 }, { 167, 185, 4, 167 }, { 186, 351, 3, 0 } } },
        { 1.0f, true,  { { 0, 9, 4, -9 }, { 10, 351, 3, 0 } } },
        { 0.5f, false, { { 0, 351, 3, 0 } } },
    };

    for (const auto& c : cases)
    {
        TarnJuceArrowVU meter (rowCoded (3, 16, 352), c.validArrow ? rowCoded (4, 16, 19) : juce::Image());
        meter.setBounds (0, 0, 16, 352);
        meter.position = c.position;

        EXPECT_EQ (meter.getName(), "ArrowVUMeter");
        EXPECT_TRUE (showsRuns (meter, c.runs)) << "position " << c.position << (c.validArrow ? "" : ", no arrow");
    }
}

TEST (TarnJuceLRVU, ShowsTheBandBetweenItsEndsOnly)
{
    const struct { float low, high; std::vector<RowRun> runs; } cases[] = {
        { 0.25f, 0.75f, { { 0, 87, 5, 0 }, { 88, 263, 6, 0 }, { 264, 351, 5, 0 } } },
        { 0.0f,  1.0f,  { { 0, 351, 6, 0 } } },
        { 0.5f,  0.5f,  { { 0, 351, 5, 0 } } },
        { 0.75f, 0.25f, { { 0, 351, 5, 0 } } },
    };

    for (const auto& c : cases)
    {
        TarnJuceLRVU meter (rowCoded (5, 16, 352), rowCoded (6, 16, 352));
        meter.setBounds (0, 0, 16, 352);
        meter.lowPosition = c.low;
        meter.highPosition = c.high;

        EXPECT_EQ (meter.getName(), "LRVUMeter");
        EXPECT_TRUE (showsRuns (meter, c.runs)) << "band " << c.low << " to " << c.high;
    }
}

// A picture for reviewers: the three meters on the page at -23 LUFS, where the
// background's target mark is.
TEST (TarnJuceMeters, LineUpWithThePageAtTheTarget)
{
    Kelt5_1liteAudioProcessor p;
    p.measurementScale = 9.0f;
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());
    auto* page = editor->getChildComponent (1);
    auto* bar = dynamic_cast<TarnJuceVU*> (page->getChildComponent (0));
    auto* arrow = dynamic_cast<TarnJuceArrowVU*> (page->getChildComponent (1));
    auto* band = dynamic_cast<TarnJuceLRVU*> (page->getChildComponent (2));
    ASSERT_TRUE (bar != nullptr && arrow != nullptr && band != nullptr);

    const auto target = p.loudnessToMeterPosition (-23.0f);
    bar->setLevel (target);
    arrow->position = target;
    band->lowPosition = p.loudnessToMeterPosition (-28.0f);
    band->highPosition = p.loudnessToMeterPosition (-18.0f);

    const auto picture = page->createComponentSnapshot ({ 0, 0, 160, 420 }, true, 1.0f);
    const auto file = juce::File (KELT_SCREENSHOT_DIR).getChildFile ("meters-side-by-side.png");
    file.getParentDirectory().createDirectory();
    file.deleteFile();
    juce::FileOutputStream out (file);
    EXPECT_TRUE (juce::PNGImageFormat().writeImageToStream (picture, out));

    // The bar's top row is the page row of the -23 mark.
    EXPECT_EQ (picture.getPixelAt (70, 199), juce::Colour (0xff3892e3));
    EXPECT_NE (picture.getPixelAt (70, 198), juce::Colour (0xff3892e3));
}
