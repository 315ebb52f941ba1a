#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "KeltImages.h"
#include "processor/MeterScale.h"

#include <iterator>
#include <utility>

namespace
{
    const struct { const char* file; int width, height; } sizes[] {
        { "meter-ebu-9.png", 249, 472 }, { "meter-ebu-18.png", 249, 472 }, { "meter-other-9.png", 249, 472 },
        { "meter-other-18.png", 249, 472 }, { "logo.png", 194, 60 }, { "truepeak-on.png", 20, 20 },
        { "truepeak-off.png", 20, 20 }, { "play-normal.png", 86, 24 }, { "play-normal-on.png", 86, 24 },
        { "play-disabled.png", 84, 24 }, { "play-disabled-on.png", 84, 24 }, { "reset-normal.png", 86, 25 },
        { "reset-down.png", 86, 25 }, { "scale-normal.png", 40, 17 }, { "scale-down.png", 40, 17 },
        { "scale-normal-on.png", 40, 17 }, { "scale-down-on.png", 40, 17 }, { "momentary-background.png", 25, 350 },
        { "momentary-lit.png", 25, 350 }, { "shortterm-strip.png", 16, 352 }, { "shortterm-arrow.png", 16, 19 },
        { "range-background.png", 16, 352 }, { "range-band.png", 16, 352 },
    };

    const juce::Colour white { 0xffffffff }, blue { 0xff3892e3 }, black { 0xff000000 };

    juce::Image decode (const juce::String& file)
    {
        for (int i = 0; i < KeltImages::namedResourceListSize; ++i)
        {
            if (file == KeltImages::originalFilenames[i])
            {
                int size = 0;
                const auto* data = KeltImages::getNamedResource (KeltImages::namedResourceList[i], size);
                return juce::ImageCache::getFromMemory (data, size);
            }
        }
        return {};
    }

    int brightestRow (const juce::Image& image, int column)
    {
        int best = 0;
        for (int y = 1; y < image.getHeight(); ++y)
            if (image.getPixelAt (column, y).getBrightness() > image.getPixelAt (column, best).getBrightness())
                best = y;
        return best;
    }

    void writeScreenshot (const juce::Image& image, const juce::String& name)
    {
        const juce::File folder (KELT_SCREENSHOT_DIR);
        folder.createDirectory();
        const auto file = folder.getChildFile (name + ".png");
        file.deleteFile();
        juce::FileOutputStream out (file);
        EXPECT_TRUE (out.openedOk() && juce::PNGImageFormat().writeImageToStream (image, out)) << file.getFullPathName();
    }
}

TEST (EditorImages, EveryImageDecodesOpaqueAtItsSize)
{
    ASSERT_EQ (KeltImages::namedResourceListSize, static_cast<int> (std::size (sizes)));

    // The small images side by side under the logo, on grey so their edges show.
    juce::Image sheet (juce::Image::RGB, 940, 430, true);
    juce::Graphics g (sheet);
    g.fillAll (juce::Colour (0xff303030));
    int x = 0;

    for (const auto& s : sizes)
    {
        const auto image = decode (s.file);
        ASSERT_TRUE (image.isValid()) << s.file;
        EXPECT_EQ (image.getBounds(), juce::Rectangle<int> (s.width, s.height)) << s.file;
        EXPECT_TRUE (image.hasAlphaChannel()) << s.file;

        bool opaque = true;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int px = 0; px < image.getWidth(); ++px)
                opaque = opaque && image.getPixelAt (px, y).getAlpha() == 255;
        EXPECT_TRUE (opaque) << s.file;

        if (s.width == 194)
            g.drawImageAt (image, 0, 0);
        else if (s.height < 472)
            g.drawImageAt (image, std::exchange (x, x + s.width + 6), 70);
    }

    writeScreenshot (sheet, "small-images");
}

TEST (EditorImages, MeterMarksLandOnTheirRows)
{
    // The range column's notch marks -23 LUFS; the arrow's tip is its position.
    EXPECT_EQ (brightestRow (decode ("range-background.png"), 15), 158);
    EXPECT_EQ (brightestRow (decode ("range-band.png"), 15), 158);
    EXPECT_EQ (brightestRow (decode ("shortterm-arrow.png"), 0), 9);

    const MeterScale plus9 { -41.0f, -14.0f }, plus18 { -59.0f, -5.0f };
    const struct { const char* file; const MeterScale& scale; float target; } cases[] {
        { "meter-ebu-9.png", plus9, -23.0f }, { "meter-ebu-18.png", plus18, -23.0f },
        { "meter-other-9.png", plus9, -24.0f }, { "meter-other-18.png", plus18, -24.0f },
    };

    for (const auto& c : cases)
    {
        const auto image = decode (c.file);
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

        writeScreenshot (image, juce::String (c.file).dropLastCharacters (4));
    }
}
