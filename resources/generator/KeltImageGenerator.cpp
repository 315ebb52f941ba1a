// Draws every image of the editor and the meters and writes them as PNG files,
// or checks that a folder of PNG files holds exactly what it would write.
//
//   KeltImageGenerator <folder>           write all images into <folder>
//   KeltImageGenerator --check <folder>   exit 1 if any file differs
//
// The output depends only on this file, the meter mapping it links and the
// DejaVu fonts it loads from KELT_FONT_DIR, so repeated runs give identical
// files.

#include <juce_graphics/juce_graphics.h>

#include "processor/MeterScale.h"

#include <cmath>
#include <functional>
#include <iostream>
#include <map>
#include <vector>

namespace
{
    using juce::Colour;
    using juce::Graphics;

    const Colour black { 0xff000000 };
    const Colour white { 0xffffffff };
    const Colour blue { 0xff3892e3 };
    const Colour lightGrey { 0xffd8d8d8 };
    const Colour outlineGrey { 0xff979797 };
    const Colour frameGrey { 0xff2c2c2c };

    //==============================================================================
    juce::Typeface::Ptr loadTypeface (const char* fileName)
    {
        const auto file = juce::File (KELT_FONT_DIR).getChildFile (fileName);
        juce::MemoryBlock data;

        if (! file.loadFileAsData (data) || data.getSize() == 0)
        {
            std::cerr << "cannot read font " << file.getFullPathName() << "\n";
            std::exit (2);
        }

        return juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());
    }

    juce::Font font (const char* fileName, float height)
    {
        static std::map<juce::String, juce::Typeface::Ptr> loaded;
        auto& typeface = loaded[fileName];

        if (typeface == nullptr)
            typeface = loadTypeface (fileName);

        return juce::Font (typeface).withHeight (height);
    }

    const char* const sans = "DejaVuSans.ttf";
    const char* const sansBold = "DejaVuSans-Bold.ttf";
    const char* const condensedBold = "DejaVuSansCondensed-Bold.ttf";

    //==============================================================================
    // Meter page backgrounds. The meters sit at page row 41 and are 352 rows
    // tall; a tick goes on the row where the processor's mapping puts its
    // loudness, as the meters compute it.
    constexpr int meterTop = 41;
    constexpr int meterHeight = 352;
    // The scale's bottom would fall two rows under the meters' last drawn row
    // (the bar image is 350 rows, the range column ends on its row 350).
    constexpr int lowestTickRow = 391;

    int tickRow (const MeterScale& scale, float loudness)
    {
        const auto px = static_cast<int> (static_cast<float> (meterHeight) * scale.position (loudness));
        return juce::jlimit (meterTop, lowestTickRow, meterTop + meterHeight - px);
    }

    struct Background
    {
        const char* file;
        float low, high;
        std::vector<int> labels;
        int target;
        const char* unit;
    };

    void drawTick (Graphics& g, int row, Colour colour)
    {
        g.setColour (colour);
        g.fillRect (37, row, 16, 1);
        g.fillRect (88, row, 16, 1);
    }

    // The target runs from its label across to the range column, so the eye
    // finds it from either meter.
    void drawTargetTick (Graphics& g, int row)
    {
        g.setColour (blue);
        g.fillRect (37, row, 20, 1);
        g.fillRect (84, row, 25, 1);
    }

    // Digits from the font with a baseline four rows under the tick, so they
    // sit centred on it; the minus is a pixel-exact bar on the tick's own row.
    void drawLabel (Graphics& g, int loudness, int row, Colour colour)
    {
        constexpr int right = 33;
        const auto digits = juce::String (std::abs (loudness));
        const auto labelFont = font (sans, 12.8f);
        g.setColour (colour);
        g.setFont (labelFont);
        g.drawSingleLineText (digits, right, row + 4, juce::Justification::right);

        if (loudness < 0)
        {
            const auto digitsLeft = static_cast<float> (right) - labelFont.getStringWidthFloat (digits);
            g.fillRect (juce::Rectangle<float> (digitsLeft - 6.0f, static_cast<float> (row), 5.0f, 1.0f));
        }
    }

    void drawBackground (Graphics& g, const Background& b)
    {
        const MeterScale scale { b.low, b.high };

        // Hairline frames around the bar and around the range column and arrow.
        g.setColour (frameGrey);
        g.drawRect (57, meterTop - 1, 27, meterHeight + 2);
        g.drawRect (109, meterTop - 1, 34, meterHeight + 2);

        // The scale's ends have a tick of their own even where no label sits there.
        drawTick (g, tickRow (scale, b.high), white);
        drawTick (g, tickRow (scale, b.low), white);

        for (auto loudness : b.labels)
        {
            const auto row = tickRow (scale, static_cast<float> (loudness));

            if (loudness == b.target)
                drawTargetTick (g, row);
            else
                drawTick (g, row, white);

            drawLabel (g, loudness, row, loudness == b.target ? blue : white);
        }

        // Under the unit label, in case a host draws the page before the label.
        g.setColour (juce::Colour (0xffbfbfbf));
        g.setFont (font (sans, 13.0f));
        g.drawText (b.unit, juce::Rectangle<int> (13, 408, 120, 20), juce::Justification::centred, false);
    }

    //==============================================================================
    void drawLogo (Graphics& g)
    {
        const auto nameFont = font (condensedBold, 31.0f);
        const juce::String name ("Kelt5.1"), edition ("LE");
        const auto nameWidth = nameFont.getStringWidthFloat (name);
        const auto editionWidth = nameFont.getStringWidthFloat (edition);

        // The mark, three rising bars as on a loudness meter, stands on the
        // text's baseline; the whole is centred in the image.
        constexpr float barWidth = 8.0f, barGap = 4.0f, markGap = 9.0f, editionGap = 7.0f, baseline = 45.0f;
        const auto markWidth = 3.0f * barWidth + 2.0f * barGap;
        const auto total = markWidth + markGap + nameWidth + editionGap + editionWidth;
        auto x = std::round ((194.0f - total) / 2.0f);

        const float heights[] { 13.0f, 21.0f, 30.0f };
        for (int i = 0; i < 3; ++i)
        {
            g.setColour (i == 2 ? white : blue);
            g.fillRoundedRectangle (x + static_cast<float> (i) * (barWidth + barGap), baseline - heights[i],
                                    barWidth, heights[i], 1.5f);
        }

        x += markWidth + markGap;
        g.setFont (nameFont);
        g.setColour (white);
        g.drawSingleLineText (name, static_cast<int> (x), static_cast<int> (baseline));
        g.setColour (blue);
        g.drawSingleLineText (edition, static_cast<int> (x + nameWidth + editionGap), static_cast<int> (baseline));
    }

    void drawLamp (Graphics& g, bool lit)
    {
        const juce::Rectangle<float> disc { 1.5f, 1.5f, 17.0f, 17.0f };
        const auto centre = disc.getCentre();
        g.setGradientFill (lit ? juce::ColourGradient (Colour (0xffff7070), centre.x - 2.0f, centre.y - 3.0f,
                                                       Colour (0xffd70014), centre.x + 6.0f, centre.y + 7.0f, true)
                               : juce::ColourGradient (Colour (0xff6a1016), centre.x - 2.0f, centre.y - 3.0f,
                                                       Colour (0xff3a0508), centre.x + 6.0f, centre.y + 7.0f, true));
        g.fillEllipse (disc);
        g.setColour (lit ? Colour (0xffff9a9a) : Colour (0xff5a1014));
        g.drawEllipse (disc, 1.0f);
    }

    // The buttons show their images unscaled from the top-left corner in an
    // 84 x 24 box, so every plate is drawn there whatever the image's size.
    const juce::Rectangle<float> plateArea { 0.5f, 0.5f, 83.0f, 23.0f };

    void drawPlate (Graphics& g, Colour top, Colour bottom, Colour rim)
    {
        g.setGradientFill (juce::ColourGradient (top, 0.0f, plateArea.getY(), bottom, 0.0f, plateArea.getBottom(), false));
        g.fillRoundedRectangle (plateArea, 4.0f);
        g.setColour (rim);
        g.drawRoundedRectangle (plateArea, 4.0f, 1.0f);
    }

    void drawPlay (Graphics& g, bool enabled, bool playing)
    {
        if (enabled)
            drawPlate (g, Colour (0xff4a9fea), Colour (0xff2a78c4), Colour (0xff6cb4f2));
        else
            drawPlate (g, Colour (0xff1d4a78), Colour (0xff14365a), Colour (0xff2a5f94));

        g.setColour (enabled ? white : Colour (0xffc4dcf4));
        const auto c = plateArea.getCentre();

        if (playing)
        {
            g.fillRect (c.x - 6.0f, c.y - 6.0f, 4.0f, 12.0f);
            g.fillRect (c.x + 2.0f, c.y - 6.0f, 4.0f, 12.0f);
        }
        else
        {
            juce::Path triangle;
            triangle.addTriangle (c.x - 4.5f, c.y - 6.5f, c.x - 4.5f, c.y + 6.5f, c.x + 6.5f, c.y);
            g.fillPath (triangle);
        }
    }

    void drawReset (Graphics& g, bool down)
    {
        if (down)
            drawPlate (g, Colour (0xff2467a8), Colour (0xff1f5b95), Colour (0xff3a82c8));
        else
            drawPlate (g, Colour (0xff4a9fea), Colour (0xff2f80cf), Colour (0xff6cb4f2));

        g.setColour (down ? Colour (0xffdfeaf6) : white);
        g.setFont (font (sansBold, 12.0f));
        g.drawText ("RESET", plateArea.translated (0.0f, down ? 1.0f : 0.0f), juce::Justification::centred, false);
    }

    void drawSwitch (Graphics& g, bool knobLeft, bool down)
    {
        const juce::Rectangle<float> track { 0.5f, 1.5f, 39.0f, 14.0f };
        g.setColour (down ? Colour (0xff3a3a3a) : Colour (0xff262626));
        g.fillRoundedRectangle (track, 7.0f);
        g.setColour (outlineGrey);
        g.drawRoundedRectangle (track, 7.0f, 1.0f);

        const juce::Rectangle<float> knob { knobLeft ? 2.5f : 25.5f, 3.0f, 11.0f, 11.0f };
        g.setColour (down ? Colour (0xffb0b0b0) : lightGrey);
        g.fillEllipse (knob);
    }

    //==============================================================================
    // The meters' own images.
    void drawArrow (Graphics& g)
    {
        // Tip on the centre of row 9 at the left edge, base along column 14.
        juce::Path triangle;
        triangle.addTriangle (0.0f, 9.5f, 15.0f, 0.0f, 15.0f, 19.0f);
        g.setColour (blue);
        g.fillPath (triangle);
    }

    void drawRangeColumn (Graphics& g, Colour colour)
    {
        g.setColour (colour);
        g.fillRect (1, 1, 6, 350);

        // The notch marks -23 LUFS, which both scales map to row 158.
        juce::Path notch;
        notch.addTriangle (7.0f, 152.0f, 16.0f, 158.5f, 7.0f, 165.0f);
        g.fillPath (notch);
    }

    //==============================================================================
    struct ImageRecipe
    {
        const char* file;
        int width, height;
        std::function<void (Graphics&)> draw;
    };

    std::vector<ImageRecipe> allImages()
    {
        const std::vector<Background> backgrounds {
            { "meter-ebu-9.png", -41.0f, -14.0f, { -14, -16, -18, -20, -23, -26, -28, -30, -35, -41 }, -23, "LUFS" },
            { "meter-ebu-18.png", -59.0f, -5.0f, { -5, -10, -16, -23, -30, -40, -50, -59 }, -23, "LUFS" },
            // LKFS counts as LUFS does, and the meters stop at -41 and -59 in
            // every mode, so the lowest label names the scale's real bottom.
            { "meter-other-9.png", -41.0f, -14.0f, { -15, -17, -19, -21, -24, -27, -29, -31, -36, -41 }, -24, "LKFS" },
            { "meter-other-18.png", -59.0f, -5.0f, { -6, -12, -18, -24, -30, -40, -50, -59 }, -24, "LKFS" },
        };

        std::vector<ImageRecipe> images {
            { "logo.png", 194, 60, drawLogo },
            { "truepeak-on.png", 20, 20, [] (Graphics& g) { drawLamp (g, true); } },
            { "truepeak-off.png", 20, 20, [] (Graphics& g) { drawLamp (g, false); } },
            { "play-normal.png", 86, 24, [] (Graphics& g) { drawPlay (g, true, false); } },
            { "play-normal-on.png", 86, 24, [] (Graphics& g) { drawPlay (g, true, true); } },
            { "play-disabled.png", 84, 24, [] (Graphics& g) { drawPlay (g, false, false); } },
            { "play-disabled-on.png", 84, 24, [] (Graphics& g) { drawPlay (g, false, true); } },
            { "reset-normal.png", 86, 25, [] (Graphics& g) { drawReset (g, false); } },
            { "reset-down.png", 86, 25, [] (Graphics& g) { drawReset (g, true); } },
            { "scale-normal.png", 40, 17, [] (Graphics& g) { drawSwitch (g, false, false); } },
            { "scale-down.png", 40, 17, [] (Graphics& g) { drawSwitch (g, false, true); } },
            { "scale-normal-on.png", 40, 17, [] (Graphics& g) { drawSwitch (g, true, false); } },
            { "scale-down-on.png", 40, 17, [] (Graphics& g) { drawSwitch (g, true, true); } },
            { "momentary-background.png", 25, 350, [] (Graphics&) {} },
            { "momentary-lit.png", 25, 350, [] (Graphics& g) { g.fillAll (blue); } },
            { "shortterm-strip.png", 16, 352, [] (Graphics&) {} },
            { "shortterm-arrow.png", 16, 19, drawArrow },
            { "range-background.png", 16, 352, [] (Graphics& g) { drawRangeColumn (g, lightGrey); } },
            { "range-band.png", 16, 352, [] (Graphics& g) { drawRangeColumn (g, blue); } },
        };

        for (const auto& b : backgrounds)
            images.push_back ({ b.file, 249, 472, [b] (Graphics& g) { drawBackground (g, b); } });

        return images;
    }

    juce::Image render (const ImageRecipe& recipe)
    {
        juce::Image image (juce::Image::ARGB, recipe.width, recipe.height, true, juce::SoftwareImageType());
        {
            Graphics g (image);
            g.fillAll (black);
            recipe.draw (g);
        }
        return image;
    }

    bool isOpaque (const juce::Image& image)
    {
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (image.getPixelAt (x, y).getAlpha() != 255)
                    return false;
        return true;
    }

    bool samePixels (const juce::Image& a, const juce::Image& b)
    {
        if (a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight())
            return false;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y).getARGB() != b.getPixelAt (x, y).getARGB())
                    return false;
        return true;
    }

    bool write (const juce::Image& image, const juce::File& file)
    {
        file.deleteFile();
        juce::FileOutputStream out (file);
        return out.openedOk() && juce::PNGImageFormat().writeImageToStream (image, out);
    }
}

int main (int argc, char** argv)
{
    const bool check = argc == 3 && juce::String (argv[1]) == "--check";

    if (argc != 2 && ! check)
    {
        std::cerr << "usage: KeltImageGenerator [--check] <folder>\n";
        return 2;
    }

    const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[argc - 1]));

    if (! check && ! folder.createDirectory())
    {
        std::cerr << "cannot create " << folder.getFullPathName() << "\n";
        return 2;
    }

    int failures = 0;

    for (const auto& recipe : allImages())
    {
        const auto image = render (recipe);
        const auto file = folder.getChildFile (recipe.file);

        if (! isOpaque (image))
        {
            std::cerr << recipe.file << ": drawing left transparent pixels\n";
            ++failures;
        }
        else if (check)
        {
            if (! samePixels (image, juce::ImageFileFormat::loadFrom (file)))
            {
                std::cerr << recipe.file << ": differs from its drawing; run scripts/make-images.sh\n";
                ++failures;
            }
        }
        else if (! write (image, file))
        {
            std::cerr << "cannot write " << file.getFullPathName() << "\n";
            ++failures;
        }
    }

    return failures == 0 ? 0 : 1;
}
