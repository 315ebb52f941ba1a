#include <gtest/gtest.h>

#include "editor/EditorTestbed.h"

#include "KeltImages.h"
#include "processor/MeterScale.h"

#include <map>
#include <string>

namespace
{
    const std::map<std::string, juce::Rectangle<int>> sizes {
        { "meter-ebu-9.png", { 249, 472 } },
        { "meter-ebu-18.png", { 249, 472 } },
        { "meter-other-9.png", { 249, 472 } },
        { "meter-other-18.png", { 249, 472 } },
        { "logo.png", { 194, 60 } },
        { "truepeak-on.png", { 20, 20 } },
        { "truepeak-off.png", { 20, 20 } },
        { "play-normal.png", { 86, 24 } },
        { "play-normal-on.png", { 86, 24 } },
        { "play-disabled.png", { 84, 24 } },
        { "play-disabled-on.png", { 84, 24 } },
        { "reset-normal.png", { 86, 25 } },
        { "reset-down.png", { 86, 25 } },
        { "scale-normal.png", { 40, 17 } },
        { "scale-down.png", { 40, 17 } },
        { "scale-normal-on.png", { 40, 17 } },
        { "scale-down-on.png", { 40, 17 } },
        { "momentary-background.png", { 25, 350 } },
        { "momentary-lit.png", { 25, 350 } },
        { "shortterm-strip.png", { 16, 352 } },
        { "shortterm-arrow.png", { 16, 19 } },
        { "range-background.png", { 16, 352 } },
        { "range-band.png", { 16, 352 } },
    };

    const juce::Colour white { 0xffffffff }, blue { 0xff3892e3 }, black { 0xff000000 };

    int brightestRow (const juce::Image& image, int column)
    {
        int best = 0;
        for (int y = 1; y < image.getHeight(); ++y)
            if (image.getPixelAt (column, y).getBrightness() > image.getPixelAt (column, best).getBrightness())
                best = y;
        return best;
    }
}

TEST (EditorImages, EveryImageDecodesOpaqueAtItsSizeAndTheMarksLandOnTheirRows)
{
    std::map<std::string, juce::Image> images;

    for (int i = 0; i < KeltImages::namedResourceListSize; ++i)
    {
        int size = 0;
        const auto* data = KeltImages::getNamedResource (KeltImages::namedResourceList[i], size);
        const auto& image = images[KeltImages::originalFilenames[i]] = juce::ImageCache::getFromMemory (data, size);
        SCOPED_TRACE (KeltImages::originalFilenames[i]);
        ASSERT_EQ (sizes.count (KeltImages::originalFilenames[i]), 1u);
        EXPECT_EQ (image.getBounds(), sizes.at (KeltImages::originalFilenames[i]));
        EXPECT_TRUE (image.hasAlphaChannel());

        bool opaque = true;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                opaque = opaque && image.getPixelAt (x, y).getAlpha() == 255;
        EXPECT_TRUE (opaque);
    }

    ASSERT_EQ (images.size(), sizes.size());

    // The range column's notch marks -23 LUFS; the arrow's tip is its position.
    EXPECT_EQ (brightestRow (images.at ("range-background.png"), 15), 158);
    EXPECT_EQ (brightestRow (images.at ("range-band.png"), 15), 158);
    EXPECT_EQ (brightestRow (images.at ("shortterm-arrow.png"), 0), 9);

    const MeterScale plus9 { -41.0f, -14.0f }, plus18 { -59.0f, -5.0f };
    const struct
    {
        const char* file;
        const MeterScale& scale;
        float target;
    } cases[] {
        { "meter-ebu-9.png", plus9, -23.0f },
        { "meter-ebu-18.png", plus18, -23.0f },
        { "meter-other-9.png", plus9, -24.0f },
        { "meter-other-18.png", plus18, -24.0f },
    };

    for (const auto& c : cases)
    {
        const auto image = images.at (c.file);
        const auto target = 41 + 352 - static_cast<int> (352.0f * c.scale.position (c.target));

        for (int column : { 40, 95 })
        {
            for (int row : { 41, 391 })
            {
                EXPECT_EQ (image.getPixelAt (column, row), white) << c.file << " " << column << "," << row;
                EXPECT_EQ (image.getPixelAt (column, row == 41 ? 40 : 392), black) << c.file << " " << column;
            }

            EXPECT_EQ (image.getPixelAt (column, target), blue) << c.file << " " << column << "," << target;
            EXPECT_NE (image.getPixelAt (column, target - 1), blue) << c.file;
            EXPECT_NE (image.getPixelAt (column, target + 1), blue) << c.file;
        }

        EXPECT_TRUE (writePng (image, c.file));
    }
}
