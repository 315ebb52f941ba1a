#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "KeltImages.h"
#include "processor/MeterScale.h"

#include <algorithm>
#include <vector>

namespace
{
    struct Entry { const char* file; const char* data; int size; int width, height; };

    #define KELT_IMAGE(file, id, w, h) { file, KeltImages::id##_png, KeltImages::id##_pngSize, w, h }
    const Entry backgrounds[] {
        KELT_IMAGE ("meter-ebu-9.png", meterebu9, 249, 472), KELT_IMAGE ("meter-ebu-18.png", meterebu18, 249, 472),
        KELT_IMAGE ("meter-other-9.png", meterother9, 249, 472), KELT_IMAGE ("meter-other-18.png", meterother18, 249, 472),
    };
    const Entry smallImages[] {
        KELT_IMAGE ("logo.png", logo, 194, 60), KELT_IMAGE ("truepeak-on.png", truepeakon, 20, 20),
        KELT_IMAGE ("truepeak-off.png", truepeakoff, 20, 20), KELT_IMAGE ("play-normal.png", playnormal, 86, 24),
        KELT_IMAGE ("play-normal-on.png", playnormalon, 86, 24), KELT_IMAGE ("play-disabled.png", playdisabled, 84, 24),
        KELT_IMAGE ("play-disabled-on.png", playdisabledon, 84, 24), KELT_IMAGE ("reset-normal.png", resetnormal, 86, 25),
        KELT_IMAGE ("reset-down.png", resetdown, 86, 25), KELT_IMAGE ("scale-normal.png", scalenormal, 40, 17),
        KELT_IMAGE ("scale-down.png", scaledown, 40, 17), KELT_IMAGE ("scale-normal-on.png", scalenormalon, 40, 17),
        KELT_IMAGE ("scale-down-on.png", scaledownon, 40, 17), KELT_IMAGE ("momentary-background.png", momentarybackground, 25, 350),
        KELT_IMAGE ("momentary-lit.png", momentarylit, 25, 350), KELT_IMAGE ("shortterm-strip.png", shorttermstrip, 16, 352),
        KELT_IMAGE ("shortterm-arrow.png", shorttermarrow, 16, 19), KELT_IMAGE ("range-background.png", rangebackground, 16, 352),
        KELT_IMAGE ("range-band.png", rangeband, 16, 352),
    };
    #undef KELT_IMAGE

    juce::Image decode (const Entry& e) { return juce::ImageCache::getFromMemory (e.data, e.size); }

    const Entry& find (const char* file)
    {
        return *std::find_if (std::begin (smallImages), std::end (smallImages),
                              [file] (const Entry& e) { return juce::String (e.file) == file; });
    }

    const juce::Colour white { 0xffffffff }, blue { 0xff3892e3 }, black { 0xff000000 };

    // The row the meters draw a loudness on, in page rows.
    int pageRow (const MeterScale& scale, float loudness)
    {
        return 41 + 352 - static_cast<int> (352.0f * scale.position (loudness));
    }

    int brightestRow (const juce::Image& image, int column)
    {
        int best = 0;
        for (int y = 1; y < image.getHeight(); ++y)
            if (image.getPixelAt (column, y).getBrightness() > image.getPixelAt (column, best).getBrightness())
                best = y;
        return best;
    }

    juce::File screenshot (const juce::String& name)
    {
        const juce::File folder (KELT_SCREENSHOT_DIR);
        folder.createDirectory();
        return folder.getChildFile (name).withFileExtension ("png");
    }

    void writePng (const juce::Image& image, const juce::File& file)
    {
        file.deleteFile();
        juce::FileOutputStream out (file);
        EXPECT_TRUE (out.openedOk() && juce::PNGImageFormat().writeImageToStream (image, out)) << file.getFullPathName();
    }
}

TEST (EditorImages, EveryImageDecodesOpaqueAtItsSize)
{
    std::vector<Entry> all (std::begin (backgrounds), std::end (backgrounds));
    all.insert (all.end(), std::begin (smallImages), std::end (smallImages));

    for (const auto& e : all)
    {
        const auto image = decode (e);
        ASSERT_TRUE (image.isValid()) << e.file;
        EXPECT_EQ (image.getWidth(), e.width) << e.file;
        EXPECT_EQ (image.getHeight(), e.height) << e.file;
        EXPECT_TRUE (image.hasAlphaChannel()) << e.file;

        bool opaque = true;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                opaque = opaque && image.getPixelAt (x, y).getAlpha() == 255;
        EXPECT_TRUE (opaque) << e.file;
    }

    // The small images side by side under the logo, on a grey sheet so their
    // edges show.
    juce::Image sheet (juce::Image::RGB, 940, 430, true);
    {
        juce::Graphics g (sheet);
        g.fillAll (juce::Colour (0xff303030));
        int x = 0;
        for (const auto& e : smallImages)
        {
            const bool logo = e.width > 100;
            g.drawImageAt (decode (e), logo ? 0 : x, logo ? 0 : 70);
            x += logo ? 0 : e.width + 6;
        }
    }
    writePng (sheet, screenshot ("small-images"));
}

TEST (EditorImages, MeterMarksLandOnTheirRows)
{
    // The range column's notch marks -23 LUFS and the arrow's tip its position.
    EXPECT_EQ (brightestRow (decode (find ("range-background.png")), 15), 158);
    EXPECT_EQ (brightestRow (decode (find ("range-band.png")), 15), 158);
    EXPECT_EQ (brightestRow (decode (find ("shortterm-arrow.png")), 0), 9);

    const MeterScale plus9 { -41.0f, -14.0f }, plus18 { -59.0f, -5.0f };
    const struct { const MeterScale& scale; float target; } cases[] {
        { plus9, -23.0f }, { plus18, -23.0f }, { plus9, -24.0f }, { plus18, -24.0f },
    };

    for (size_t i = 0; i < std::size (cases); ++i)
    {
        const auto& e = backgrounds[i];
        const auto image = decode (e);
        const auto target = pageRow (cases[i].scale, cases[i].target);

        for (int column : { 40, 95 })
        {
            for (int row : { 41, 391 })
            {
                EXPECT_EQ (image.getPixelAt (column, row), white) << e.file << " " << column << "," << row;
                EXPECT_EQ (image.getPixelAt (column, row == 41 ? 40 : 392), black) << e.file << " " << column;
            }

            EXPECT_EQ (image.getPixelAt (column, target), blue) << e.file << " " << column << "," << target;
            EXPECT_NE (image.getPixelAt (column, target - 1), blue) << e.file;
            EXPECT_NE (image.getPixelAt (column, target + 1), blue) << e.file;
        }

        writePng (image, screenshot (juce::String (e.file).upToFirstOccurrenceOf (".", false, false)));
    }

    EXPECT_EQ (pageRow (plus9, -23.0f), 199);
    EXPECT_EQ (pageRow (plus18, -23.0f), 199);
}
