#include <gtest/gtest.h>

#include "editor/TarnJuceArrowVU.h"
#include "editor/TarnJuceLRVU.h"
#include "editor/TarnJuceVU.h"

#include <limits>

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

    /** Where each run of painted rows starts, as " row:image@offset" (image
        row = row - offset), " row:-" where nothing was painted. */
    std::string paintedRuns (juce::Component& component)
    {
        juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
        juce::Graphics g (image);
        component.paintEntireComponent (g, false);
        std::string runs, run, previous;

        for (int y = 0; y < image.getHeight(); ++y, previous = run)
        {
            const auto pixel = image.getPixelAt (image.getWidth() / 2, y);
            run = pixel.isTransparent() ? "-" : std::to_string (pixel.getGreen() / 16) + "@" + std::to_string (y - pixel.getRed() - (pixel.getGreen() % 16) * 256);

            if (run != previous)
                runs += " " + std::to_string (y) + ":" + run;
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
    TarnJuceVU bar (rowCoded (1, 25, 350), rowCoded (2, 25, 350));
    TarnJuceArrowVU arrow (rowCoded (3, 16, 352), rowCoded (4, 16, 19));
    TarnJuceLRVU band (rowCoded (5, 16, 352), rowCoded (6, 16, 352));
    bar.setBounds (0, 0, 25, 352);
    bar.setVisible (true);
    arrow.setSize (16, 352);
    band.setSize (16, 352);

    // The bar's level, the arrow's position (a stray one shows none), the
    // range band's ends.
    const struct
    {
        juce::Component* meter;
        float a, b;
        const char* runs;
    } cases[] = {
        { &bar, 0.3f, 0, " 0:1@0 247:2@0 350:-" }, // 105.6 rows truncate to 105
        { &bar, std::numeric_limits<float>::quiet_NaN(), 0, " 0:1@0 350:-" },
        { &arrow, 0.5f, 0, " 0:3@0 167:4@167 186:3@0" },
        { &arrow, 1.0e9f, 0, " 0:3@0" },
        { &band, 0.25f, 0.75f, " 0:5@0 88:6@0 264:5@0" },
    };

    for (const auto& c : cases)
    {
        bar.setLevel (c.a);
        arrow.position = band.lowPosition = c.a;
        band.highPosition = c.b;
        EXPECT_EQ (paintedRuns (*c.meter), c.runs) << c.meter->getName() << " " << c.a;
    }

    // Only a change of the clamped level repaints.
    auto* counter = new RepaintCounter();
    bar.setCachedComponentImage (counter);
    counter->count = 0;

    for (auto level : { 0.5f, 0.5f, 2.0f, 1.0f })
        bar.setLevel (level);

    EXPECT_EQ (counter->count, 2);
}
