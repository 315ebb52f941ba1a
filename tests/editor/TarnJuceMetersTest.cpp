#include <gtest/gtest.h>

#include "editor/TarnJuceArrowVU.h"
#include "editor/TarnJuceLRVU.h"
#include "editor/TarnJuceVU.h"

#include <limits>
#include <utility>

namespace
{
    // Every pixel of a test image names its image and its row, so a painted
    // component row tells which image row landed on it.
    juce::Image rowCoded (int id, int width, int height)
    {
        juce::Image image (juce::Image::ARGB, width, height, false);

        for (int y = 0; y < height; ++y)
            image.clear ({ 0, y, width, 1 }, juce::Colour ((juce::uint8) (y & 0xff), (juce::uint8) (id * 16 + (y >> 8)), 0x40));

        return image;
    }

    /** The painted rows as runs "first-last:image@offset" (image row = row -
        offset), "first-last:-" where nothing was painted. */
    std::string paintedRuns (juce::Component& component)
    {
        juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
        juce::Graphics g (image);
        component.paintEntireComponent (g, false);
        std::string runs, previous;
        int first = 0;

        for (int y = 0; y <= image.getHeight(); ++y)
        {
            const auto pixel = image.getPixelAt (image.getWidth() / 2, y);
            const auto run = y == image.getHeight() ? std::string ("end")
                           : pixel.isTransparent()  ? std::string ("-")
                                                    : std::to_string (pixel.getGreen() / 16) + "@" + std::to_string (y - pixel.getRed() - (pixel.getGreen() % 16) * 256);

            if (y > 0 && run != previous)
                runs += (runs.empty() ? "" : " ") + std::to_string (std::exchange (first, y)) + "-" + std::to_string (y - 1) + ":" + previous;

            previous = run;
        }

        return runs;
    }

    /** Counts the repaints that reach a component. */
    struct RepaintCounter final : public juce::CachedComponentImage
    {
        void paint (juce::Graphics&) override {}
        bool invalidateAll() override
        {
            ++count;
            return true;
        }
        bool invalidate (const juce::Rectangle<int>&) override
        {
            ++count;
            return true;
        }
        void releaseResources() override {}
        int count = 0;
    };

    constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
}

TEST (TarnJuceMeters, PaintTheirImageRowsOnTheSameComponentRows)
{
    // From a level of 0.25. One or two lit rows of the bar would lie below its 350-row image.
    const struct
    {
        float newLevel, stored;
        bool repaints;
        const char* runs;
    } bars[] = {
        { 0.5f, 0.5f, true, "0-175:1@0 176-349:2@0 350-351:-" },
        { 0.25f, 0.25f, false, "0-263:1@0 264-349:2@0 350-351:-" },
        { 0.3f, 0.3f, true, "0-246:1@0 247-349:2@0 350-351:-" }, // 105.6 rows truncate to 105
        { 1.0f / 352, 1.0f / 352, true, "0-349:1@0 350-351:-" },
        { 2.0f / 352, 2.0f / 352, true, "0-349:1@0 350-351:-" },
        { 1.7f, 1.0f, true, "0-349:2@0 350-351:-" },
        { -3.0f, 0.0f, true, "0-349:1@0 350-351:-" },
        { notANumber, 0.0f, true, "0-349:1@0 350-351:-" },
    };

    for (const auto& c : bars)
    {
        TarnJuceVU bar (rowCoded (1, 25, 350), rowCoded (2, 25, 350));
        bar.setBounds (0, 0, 25, 352);
        bar.setVisible (true);
        bar.setLevel (0.25f);
        auto* counter = new RepaintCounter();
        bar.setCachedComponentImage (counter);
        counter->count = 0;
        bar.setLevel (c.newLevel);
        bar.setLevel (c.newLevel);
        EXPECT_EQ (bar.getLevel(), c.stored) << c.newLevel;
        EXPECT_EQ (counter->count, c.repaints ? 1 : 0) << c.newLevel;
        bar.setCachedComponentImage (nullptr);
        EXPECT_EQ (paintedRuns (bar), c.runs) << "bar at " << c.newLevel;
    }

    // At 0 the arrow's tip falls one row below the strip; a stray position shows no arrow.
    const struct
    {
        float position;
        bool hasArrow;
        const char* runs;
    } arrows[] = {
        { 0.0f, true, "0-342:3@0 343-351:4@343" },
        { 0.5f, true, "0-166:3@0 167-185:4@167 186-351:3@0" },
        { 1.0f, true, "0-9:4@-9 10-351:3@0" },
        { 0.5f, false, "0-351:3@0" },
        { 1.0e9f, true, "0-351:3@0" },
        { -1.0e9f, true, "0-351:3@0" },
    };

    for (const auto& c : arrows)
    {
        TarnJuceArrowVU arrow (rowCoded (3, 16, 352), c.hasArrow ? rowCoded (4, 16, 19) : juce::Image());
        arrow.setBounds (0, 0, 16, 352);
        arrow.position = c.position;
        EXPECT_EQ (paintedRuns (arrow), c.runs) << "arrow at " << c.position;
    }

    const struct
    {
        float low, high;
        const char* runs;
    } bands[] = {
        { 0.25f, 0.75f, "0-87:5@0 88-263:6@0 264-351:5@0" },
        { 0.0f, 1.0f, "0-351:6@0" },
        { 0.5f, 0.5f, "0-351:5@0" },
        { 0.75f, 0.25f, "0-351:5@0" },
    };

    for (const auto& c : bands)
    {
        TarnJuceLRVU band (rowCoded (5, 16, 352), rowCoded (6, 16, 352));
        band.setBounds (0, 0, 16, 352);
        band.lowPosition = c.low;
        band.highPosition = c.high;
        EXPECT_EQ (paintedRuns (band), c.runs) << "band " << c.low << " to " << c.high;
    }
}
