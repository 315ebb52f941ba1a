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
        bool invalidateAll() override { return ++count > 0; }
        bool invalidate (const juce::Rectangle<int>&) override { return ++count > 0; }
        void releaseResources() override {}
        int count = 0;
    };
}

TEST (TarnJuceMeters, PaintTheirImageRowsOnTheSameComponentRows)
{
    constexpr auto nan = std::numeric_limits<float>::quiet_NaN();

    // 'v' the bar: a level set twice after 0.25, then the level it keeps (one or
    // two lit rows would lie below its 350-row image). 'a' the arrow: its
    // position, with (1) or without (0) its image; at 0 its tip falls a row
    // below the strip, a stray position shows none. 'b' the range band's ends.
    const struct
    {
        char meter;
        float a, b;
        const char* runs;
    } cases[] = {
        { 'v', 0.5f, 0.5f, "0-175:1@0 176-349:2@0 350-351:-" },
        { 'v', 0.25f, 0.25f, "0-263:1@0 264-349:2@0 350-351:-" },
        { 'v', 0.3f, 0.3f, "0-246:1@0 247-349:2@0 350-351:-" }, // 105.6 rows truncate to 105
        { 'v', 1.0f / 352, 1.0f / 352, "0-349:1@0 350-351:-" },
        { 'v', 1.7f, 1.0f, "0-349:2@0 350-351:-" },
        { 'v', -3.0f, 0.0f, "0-349:1@0 350-351:-" },
        { 'v', nan, 0.0f, "0-349:1@0 350-351:-" },
        { 'a', 0.0f, 1, "0-342:3@0 343-351:4@343" },
        { 'a', 0.5f, 1, "0-166:3@0 167-185:4@167 186-351:3@0" },
        { 'a', 1.0f, 1, "0-9:4@-9 10-351:3@0" },
        { 'a', 0.5f, 0, "0-351:3@0" },
        { 'a', 1.0e9f, 1, "0-351:3@0" },
        { 'b', 0.25f, 0.75f, "0-87:5@0 88-263:6@0 264-351:5@0" },
        { 'b', 0.0f, 1.0f, "0-351:6@0" },
        { 'b', 0.75f, 0.25f, "0-351:5@0" },
    };

    TarnJuceVU bar (rowCoded (1, 25, 350), rowCoded (2, 25, 350));
    TarnJuceArrowVU arrow (rowCoded (3, 16, 352), rowCoded (4, 16, 19)), bareArrow (rowCoded (3, 16, 352), {});
    TarnJuceLRVU band (rowCoded (5, 16, 352), rowCoded (6, 16, 352));
    bar.setBounds (0, 0, 25, 352);
    bar.setVisible (true);
    arrow.setSize (16, 352);
    bareArrow.setSize (16, 352);
    band.setSize (16, 352);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::string (1, c.meter) + " " + std::to_string (c.a) + " " + std::to_string (c.b));
        juce::Component& meter = c.meter == 'v' ? (juce::Component&) bar : c.meter == 'b' ? (juce::Component&) band
                                                                     : c.b > 0            ? arrow
                                                                                          : bareArrow;
        arrow.position = bareArrow.position = band.lowPosition = c.a;
        band.highPosition = c.b;

        if (c.meter == 'v')
        {
            bar.setLevel (0.25f);
            auto* counter = new RepaintCounter();
            bar.setCachedComponentImage (counter);
            counter->count = 0;
            bar.setLevel (c.a);
            bar.setLevel (c.a);
            EXPECT_EQ (bar.getLevel(), c.b);
            EXPECT_EQ (counter->count, c.b == 0.25f ? 0 : 1); // only a change repaints
            bar.setCachedComponentImage (nullptr);
        }

        EXPECT_EQ (paintedRuns (meter), c.runs);
    }
}
