#include <gtest/gtest.h>

#include "KeltImages.h"
#include "processor/MeterScale.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <map>
#include <string>

namespace
{
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
    std::string sizes;

    for (int i = 0; i < KeltImages::namedResourceListSize; ++i)
    {
        int size = 0;
        const auto* data = KeltImages::getNamedResource (KeltImages::namedResourceList[i], size);
        images[KeltImages::originalFilenames[i]] = juce::ImageCache::getFromMemory (data, size);
    }

    for (const auto& [name, image] : images)
    {
        bool opaque = image.hasAlphaChannel();
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                opaque = opaque && image.getPixelAt (x, y).getAlpha() == 255;
        sizes += name + " " + std::to_string (image.getWidth()) + "x" + std::to_string (image.getHeight()) + (opaque ? "" : " not opaque") + "\n";
    }

    EXPECT_EQ (sizes, "logo.png 194x60\nmeter-ebu-18.png 249x472\nmeter-ebu-9.png 249x472\nmeter-other-18.png 249x472\nmeter-other-9.png 249x472\n"
                      "momentary-background.png 25x350\nmomentary-lit.png 25x350\nplay-disabled-on.png 84x24\nplay-disabled.png 84x24\n"
                      "play-normal-on.png 86x24\nplay-normal.png 86x24\nrange-background.png 16x352\nrange-band.png 16x352\n"
                      "reset-down.png 86x25\nreset-normal.png 86x25\nscale-down-on.png 40x17\nscale-down.png 40x17\nscale-normal-on.png 40x17\n"
                      "scale-normal.png 40x17\nshortterm-arrow.png 16x19\nshortterm-strip.png 16x352\ntruepeak-off.png 20x20\ntruepeak-on.png 20x20\n");

    // The range column's notch marks -23 LUFS; the arrow's tip is its position.
    EXPECT_EQ (brightestRow (images["range-background.png"], 15), 158);
    EXPECT_EQ (brightestRow (images["range-band.png"], 15), 158);
    EXPECT_EQ (brightestRow (images["shortterm-arrow.png"], 0), 9);

    // The scale's white end rows and its blue target row where the processor maps them.
    const juce::Colour white { 0xffffffff }, blue { 0xff3892e3 }, black { 0xff000000 };
    const MeterScale plus9 { -41.0f, -14.0f }, plus18 { -59.0f, -5.0f };
    const struct
    {
        const char* file;
        const MeterScale& scale;
        float target;
    } cases[] { { "meter-ebu-9.png", plus9, -23.0f }, { "meter-ebu-18.png", plus18, -23.0f }, { "meter-other-9.png", plus9, -24.0f }, { "meter-other-18.png", plus18, -24.0f } };

    for (const auto& c : cases)
    {
        const auto& image = images[c.file];
        const auto target = 41 + 352 - static_cast<int> (352.0f * c.scale.position (c.target));

        for (int column : { 40, 95 })
        {
            SCOPED_TRACE (std::string (c.file) + " column " + std::to_string (column));
            EXPECT_TRUE (image.getPixelAt (column, 41) == white && image.getPixelAt (column, 391) == white);
            EXPECT_TRUE (image.getPixelAt (column, 40) == black && image.getPixelAt (column, 392) == black);
            EXPECT_EQ (image.getPixelAt (column, target), blue) << target;
            EXPECT_TRUE (image.getPixelAt (column, target - 1) != blue && image.getPixelAt (column, target + 1) != blue);
        }
    }
}
