#include <gtest/gtest.h>

#include "editor/Kelt5_1liteAudioProcessorEditor.h"
#include "editor/PlayTimeText.h"
#include "editor/TarnJuceArrowVU.h"
#include "editor/TarnJuceLRVU.h"
#include "editor/TarnJuceVU.h"
#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/PlayingHost.h"

#include "KeltImages.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <thread>
#include <tuple>

namespace juce
{
    // How the framework's plug-in wrappers run what is queued for the
    // message thread when a host drives the events.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

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
        const auto image = component.createComponentSnapshot (component.getLocalBounds());
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

    /** The pixels of an area that differ by more than a rasteriser's shade
        on an edge. */
    int differingPixels (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area)
    {
        int differing = 0;

        for (int i = 0; i < area.getWidth() * area.getHeight(); ++i)
            for (auto [x, y] : { std::pair { area.getX() + i % area.getWidth(), area.getY() + i / area.getWidth() } })
                for (auto [p, q] : { std::pair { a.getPixelAt (x, y), b.getPixelAt (x, y) } })
                    differing += std::abs (p.getRed() - q.getRed()) > 24 || std::abs (p.getGreen() - q.getGreen()) > 24 || std::abs (p.getBlue() - q.getBlue()) > 24 ? 1 : 0;

        return differing;
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

    /** The host's record of the parameter changes that the plug-in reports. */
    struct ParameterLog final : public juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override { changes.push_back ({ index, value }); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
        std::vector<std::pair<int, float>> changes;
    };

    /** Writes a picture for reviewers into the build's screenshot folder, or to a full path. */
    bool writePng (const juce::Image& image, const juce::String& name)
    {
        const auto file = juce::File (KELT_SCREENSHOT_DIR).getChildFile (name);
        juce::MemoryOutputStream png;
        return file.getParentDirectory().createDirectory() && juce::PNGImageFormat().writeImageToStream (image, png) && file.replaceWithData (png.getData(), png.getDataSize());
    }

    /** A processor with an open editor and a host that plays a steady 1 kHz
        sine through it: one 50 ms block, one measurement step and one refresh
        tick at a time, as they come when the loudness thread keeps up. */
    struct EditorTestbed
    {
        static constexpr double sampleRate = 48000.0;
        static constexpr int blockSize = 2400; // 50 whole periods

        EditorTestbed() : block (2, blockSize)
        {
            p.renderPace.clock = PlayingHost::realTimeClock; // blocks come at real-time pace
            p.setPlayConfigDetails (2, 2, sampleRate, blockSize);
            p.prepareToPlay (sampleRate, blockSize);
            p.releaseResources(); // the steps run here, after each block
            p.setPlayHead (&playHead);
            openEditor();
            editor->setVisible (true); // as a wrapper shows it
        }

        ~EditorTestbed() { closeEditor(); }

        void openEditor() { editor.reset (static_cast<Kelt5_1liteAudioProcessorEditor*> (p.createEditorIfNeeded())); }

        /** As a wrapper closes the window: the processor forgets the editor first. */
        void closeEditor()
        {
            p.editorBeingDeleted (editor.get());
            editor.reset();
        }

        void tick() { editor->timerCallback(); }

        /** A left click at a point of the window, as the window system hands it on. */
        void click (juce::Point<float> point)
        {
            for (auto buttons : { juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier), juce::ModifierKeys() })
                editor->getPeer()->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, point, buttons, juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, juce::Time::currentTimeMillis());
        }

        /** A text of a page (1 Meter, 2 Settings, 3 Statistics) by the order
            in which the editor adds the page's parts; a part of another kind throws. */
        juce::Label& label (int page, int index) { return dynamic_cast<juce::Label&> (*editor->getChildComponent (page)->getChildComponent (index)); }

        juce::Image snapshot() { return editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f); }

        TestPlayHead playHead; // outlives the processor that holds it
        Kelt5_1liteAudioProcessor p;
        juce::AudioSampleBuffer block;
        juce::MidiBuffer midi;
        std::unique_ptr<Kelt5_1liteAudioProcessorEditor> editor;
    };
}

TEST (TarnJuceMeters, PaintTheirImageRowsOnTheSameComponentRows)
{
    TarnJuceVU bar (rowCoded (1, 16, 350), rowCoded (2, 16, 350));
    TarnJuceArrowVU arrow (rowCoded (3, 16, 352), rowCoded (4, 16, 19));
    TarnJuceLRVU band (rowCoded (5, 16, 352), rowCoded (6, 16, 352));

    for (juce::Component* meter : std::initializer_list<juce::Component*> { &bar, &arrow, &band })
        meter->setBounds (0, 0, 16, 352);

    // The bar's level, the arrow's position (a stray one shows none), the
    // range band's ends.
    const std::tuple<juce::Component*, float, float, const char*> cases[] = {
        { &bar, 0.3f, 0, " 0:1@0 247:2@0 350:-" }, // 105.6 rows truncate to 105
        { &bar, std::numeric_limits<float>::quiet_NaN(), 0, " 0:1@0 350:-" },
        { &arrow, 0.5f, 0, " 0:3@0 167:4@167 186:3@0" },
        { &arrow, 1.0e9f, 0, " 0:3@0" },
        { &band, 0.25f, 0.75f, " 0:5@0 88:6@0 264:5@0" },
    };

    for (const auto& [meter, a, b, runs] : cases)
    {
        bar.setLevel (a);
        arrow.position = band.lowPosition = a;
        band.highPosition = b;
        EXPECT_EQ (paintedRuns (*meter), runs) << meter->getName() << " " << a;
    }

    // Only a change of the clamped level repaints, besides the repaint that
    // comes with the counter.
    auto* counter = new RepaintCounter();
    bar.setVisible (true);
    bar.setCachedComponentImage (counter);

    for (auto level : { 0.5f, 0.5f, 2.0f, 1.0f })
        bar.setLevel (level);

    EXPECT_EQ (counter->count, 3);
}

TEST (Editor, FormatsPlayTimes)
{
    // The last frame of a second shows the frame count of each rate; hours,
    // minutes and seconds stop at the largest count.
    const std::tuple<double, double, juce::AudioPlayHead::FrameRate, const char*> times[] = {
        { 44099.0, 44100.0, juce::AudioPlayHead::fps24, "00:00:00:00" }, // frame 24 wraps to 0 a sample before the second
        { 95.0, 10.0, juce::AudioPlayHead::fps30, "00:00:09:00" }, // no whole sample per frame
        { 123456789.0, 0.0, juce::AudioPlayHead::fps25, "00:00:00:00" },
        { -1.0, 48000.0, juce::AudioPlayHead::fps30, "-00:00:00:00" },
        { std::numeric_limits<double>::quiet_NaN(), 48000.0, juce::AudioPlayHead::fps30, "00:00:00:00" },
        { 1.0e300, 48000.0, juce::AudioPlayHead::fps30, "596523:14:07:07" },
    };

    for (const auto& [samples, rate, frameRate, text] : times)
        EXPECT_EQ (PlayTimeText::format (samples, rate, frameRate), text) << samples << " at " << rate;
}

// The editor as it opens against its golden picture, which KELT_UPDATE_GOLDEN=1
// rewrites instead (tests/editor/golden/README.md), and what of it takes
// clicks; then a programme as a user sees it, with a picture of each page for
// reviewers; then the controls as a user clicks them and the host sees their
// changes.
TEST (Editor, OpensAsItsGoldenPictureShowsAProgrammeAtTheTargetLoudnessAndTakesClicks)
{
    ParameterLog host; // outlives the processor that reports to it
    EditorTestbed t;
    const auto actual = t.snapshot();
    EXPECT_TRUE (writePng (actual, "editor-meter-page.png"));

    if (std::getenv ("KELT_UPDATE_GOLDEN") != nullptr)
    {
        EXPECT_TRUE (writePng (actual, KELT_GOLDEN_DIR "/editor-meter-page.png"));
        GTEST_SKIP() << "rewrote " KELT_GOLDEN_DIR "/editor-meter-page.png";
    }

    // Rasterisers may differ by a shade on an edge; a moved element (or a
    // missing picture, whose pixels all read as transparent) changes hundreds
    // of pixels by far more.
    const auto golden = juce::ImageFileFormat::loadFrom (juce::File (KELT_GOLDEN_DIR "/editor-meter-page.png"));
    EXPECT_LE (differingPixels (actual, golden, actual.getBounds()), 20) << "see " KELT_SCREENSHOT_DIR "/editor-meter-page.png";

    // What takes clicks on the Meter, Settings and Statistics pages ('t'
    // toggles, '-' disabled): the texts over the meters and controls let the
    // clicks through.
    juce::String takers;

    for (int page = 1; page <= 3; ++page)
        for (auto* child : t.editor->getChildComponent (page)->getChildren())
            takers << (child->hitTest (0, 0) ? "x" : ".") << (dynamic_cast<juce::Button*> (child) != nullptr && dynamic_cast<juce::Button*> (child)->getClickingTogglesState() ? "t" : "") << (child->isEnabled() ? "" : "-");

    EXPECT_EQ (takers, "xxxxt-....xt-xxxxxxxxt..x.xxxx.xxxx............");

    // 8.2 s of a sine at -23 LUFS, played at 25 fps.
    t.editor->addToDesktop (0);
    ToneProgramme ({ { -23.0f, 1000.0, 0.05 } }).fill (t.block);

    for (int b = 0; b < 164; ++b)
    {
        t.playHead.set (true, b * EditorTestbed::blockSize);
        t.playHead.position.setFrameRate (juce::AudioPlayHead::fps25);
        t.p.processBlock (t.block, t.midi);
        t.p.loudnessModule.updateLoudness();
        t.tick();
    }

    const juce::Colour green (0xff81ca2f), yellow = juce::Colours::yellow, red (0xffd70014);
    auto& integrated = t.label (1, 10);

    EXPECT_EQ (integrated.getText(), "-23.0 LUFS");
    EXPECT_EQ (integrated.findColour (juce::Label::textColourId), green);
    EXPECT_EQ (t.label (1, 5).getText(), "00:00:08:05"); // 205 frames of 25 fps

    // The bar's top (x 70) and the arrow's point (x 127) on the background's
    // -23 mark at row 30 + 41 + 158, give or take a row.
    const auto picture = t.snapshot();
    const auto blue = [&picture] (int x, int y) { return picture.getPixelAt (x, y).getBlue() > 150 && picture.getPixelAt (x, y).getRed() < 120; };

    for (int x : { 70, 127 })
        EXPECT_TRUE (! blue (x, 227) && (blue (x, 228) || blue (x, 229) || blue (x, 230))) << x;

    // A click on a tab shows its page alone.
    auto& tabs = dynamic_cast<juce::TabbedButtonBar&> (*t.editor->getChildComponent (0));

    for (int tab : { 1, 2, 0 })
    {
        t.click (tabs.getTabButton (tab)->getBounds().getCentre().toFloat());
        tabs.dispatchPendingMessages();
        EXPECT_TRUE (writePng (t.snapshot(), juce::StringArray { "meter", "statistics", "settings" }[tab] + "-page.png"));

        for (int page = 1; page <= 3; ++page)
            EXPECT_EQ (t.editor->getChildComponent (page)->isVisible(), page == (tab == 0 ? 1 : 4 - tab)) << tab;
    }

    // Statistics: program loudness, range, highest short-term and momentary.
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ (t.label (3, 2 + 3 * row).getText(), row == 1 ? "0.0 " : "-23.0 ");

    // Readings at the edges of the integrated one's green and yellow bands and
    // of the short-term one's green, a tie to round, and not a number.
    const std::tuple<float, const char*, juce::Colour, juce::Colour> readings[] = {
        { -22.0f, "-22.0 LUFS", green, green },
        { -24.0f, "-24.0 LUFS", green, green },
        { -28.25f, "-28.3 LUFS", yellow, green },
        { -28.5f, "-28.5 LUFS", red, green },
        { -20.0f, "-20.0 LUFS", red, red },
        { std::numeric_limits<float>::quiet_NaN(), "-", red, red },
    };

    for (const auto& [loudness, text, integratedColour, shortTermColour] : readings)
    {
        t.p.readings.integratedLoudness.store (loudness);
        t.p.readings.shortTermLoudness.store (loudness);
        t.tick();
        EXPECT_EQ (integrated.getText(), text) << loudness;
        EXPECT_EQ (integrated.findColour (juce::Label::textColourId), integratedColour) << loudness;
        EXPECT_EQ (t.label (1, 12).findColour (juce::Label::textColourId), shortTermColour) << loudness;
    }

    // A reset empties the display at the next tick.
    t.editor->buttonClicked (dynamic_cast<juce::Button*> (t.editor->getChildComponent (1)->getChildComponent (9)));
    t.tick();
    EXPECT_EQ (t.label (1, 5).getText(), "00:00:00:00");

    for (auto* label : { &integrated, &t.label (1, 12), &t.label (1, 14), &t.label (3, 2), &t.label (3, 11) })
        EXPECT_EQ (label->getText(), "-");

    t.p.addListener (&host);

    // The lit peak indicator, clicked where its caption covers it.
    t.p.readings.truePeakOverload.store (1);
    t.tick();
    t.click ({ 220.0f, 77.0f });
    EXPECT_EQ (t.p.readings.truePeakOverload.load(), 0);

    // The scale toggle, clicked where the "+18" caption covers it.
    t.click ({ 180.0f, 448.0f });
    t.tick();
    t.click ({ 180.0f, 448.0f });

    // "-12", then "-6", then no choice at all, which must send nothing.
    for (int id : { 8, 5, 0 })
        dynamic_cast<juce::ComboBox&> (*t.editor->getChildComponent (2)->getChildComponent (3)).setSelectedId (id, juce::sendNotificationSync);

    // Each opening sets the -1 dBTP limit as the host sees it; the mode
    // list's own notice changes nothing.
    t.closeEditor();
    t.openEditor();

    while (juce::dispatchNextMessageOnSystemQueue (true))
    {}

    EXPECT_EQ (host.changes, (std::vector<std::pair<int, float>> { { 1, 0.0f }, { 1, 1.0f }, { 2, 0.0f }, { 2, 6.0f / 11.0f }, { 2, 1.0f } }));
}

// At the next tick after the mode list, the scale or the peak latch changes:
// the mode's texts and units, the background of the mode and of the scale
// (the +18 one only where the scale rounds to 18, a tie to the even number),
// the scale toggle with its lit caption, and the indicator, lit by a latch of
// exactly 1 alone.
TEST (Editor, ShowsTheModeTheScaleAndThePeakLatchAtTheNextTick)
{
    EditorTestbed t;
    auto& page = *t.editor->getChildComponent (1);
    auto& modes = dynamic_cast<juce::ComboBox&> (*t.editor->getChildComponent (2)->getChildComponent (1));
    auto& peak = dynamic_cast<juce::Button&> (*page.getChildComponent (3));

    const std::pair<std::string, juce::Image> backgrounds[] = {
        { "ebu18", juce::ImageCache::getFromMemory (KeltImages::meterebu18_png, KeltImages::meterebu18_pngSize) },
        { "ebu9", juce::ImageCache::getFromMemory (KeltImages::meterebu9_png, KeltImages::meterebu9_pngSize) },
        { "other18", juce::ImageCache::getFromMemory (KeltImages::meterother18_png, KeltImages::meterother18_pngSize) },
        { "other9", juce::ImageCache::getFromMemory (KeltImages::meterother9_png, KeltImages::meterother9_pngSize) },
    };

    // The backgrounds whose scale labels the page shows, left of the meters.
    const auto shownBackgrounds = [&] {
        const auto shown = page.createComponentSnapshot ({ 0, 0, 50, 400 });
        std::string names;

        for (const auto& [name, image] : backgrounds)
            names += differingPixels (shown, image, shown.getBounds()) == 0 ? " " + name : "";

        return names;
    };

    t.p.readings.integratedLoudness.store (-23.0f);
    t.p.readings.shortTermLoudness.store (-23.0f);

    // EBU again after ARIB; latches of 2 right after a lit indicator.
    const std::tuple<int, float, int, const char*, const char*, const char*, bool> cases[] = {
        { 2, 18.0f, 1, "ATSC", "LKFS", " other18", true },
        { 3, 17.4f, 2, "ARIB", "LKFS", " other9", false },
        { 1, 17.5f, 1, "EBU", "LUFS", " ebu18", true },
        { 1, 18.6f, 2, "EBU", "LUFS", " ebu9", false },
        { 3, 18.5f, 0, "ARIB", "LKFS", " other18", false },
        { 2, 9.0f, 1, "ATSC", "LKFS", " other9", true },
    };

    for (const auto& [id, scale, latch, mode, unit, background, lit] : cases)
    {
        modes.setSelectedId (id, juce::sendNotificationSync);
        t.p.measurementScale.store (scale);
        t.p.readings.truePeakOverload.store (latch);
        t.tick();

        const auto where = juce::String (mode) + " " + juce::String (scale) + " " + juce::String (latch);
        const auto plus18 = juce::String (background).endsWith ("18");
        juce::StringArray texts;

        for (auto [p, i] : { std::pair { 1, 6 }, { 1, 7 }, { 1, 10 }, { 1, 12 }, { 3, 3 }, { 3, 6 }, { 3, 9 }, { 3, 12 } })
            texts.add (t.label (p, i).getText());

        EXPECT_EQ (texts.joinIntoString ("|"), juce::String (mode) + "|MLk " + unit + "|-23.0 " + unit + "|-23.0 " + unit + "|" + unit + "|LU|" + unit + "|" + unit) << where;
        EXPECT_EQ (shownBackgrounds(), background) << where;
        EXPECT_EQ (dynamic_cast<juce::Button&> (*page.getChildComponent (16)).getToggleState(), plus18) << where;
        EXPECT_EQ (t.label (1, plus18 ? 17 : 18).findColour (juce::Label::textColourId).toString(), "ffffffff") << where; // the lit caption
        EXPECT_EQ (peak.getToggleState(), lit) << where;
        EXPECT_EQ (peak.isEnabled(), lit) << where;
    }
}

TEST (Editor, OpensTicksResetsAndClosesWhileTheAudioAndLoudnessThreadsRun)
{
    EditorTestbed t;
    ToneProgramme ({ { -20.0f, 1000.0, 0.05 } }).fill (t.block);
    t.closeEditor();
    t.p.prepareToPlay (EditorTestbed::sampleRate, EditorTestbed::blockSize); // the loudness thread measures
    std::atomic<bool> stop { false };

    std::thread audio ([&] {
        for (juce::int64 b = 0; ! stop; ++b)
        {
            t.playHead.set (true, b * EditorTestbed::blockSize);
            t.p.processBlock (t.block, t.midi);
        }
    });

    for (int i = 0; i < 40; ++i)
    {
        t.openEditor();

        if (i % 10 == 5) // a new rate while the editor is open
            t.p.prepareToPlay (i % 20 == 5 ? 44100.0 : EditorTestbed::sampleRate, EditorTestbed::blockSize);

        // Some close before their first tick or before their queued limit choice.
        if (i % 2 == 0)
        {
            t.tick();
            t.editor->buttonClicked (dynamic_cast<juce::Button*> (t.editor->getChildComponent (1)->getChildComponent (9)));

            while (juce::dispatchNextMessageOnSystemQueue (true))
            {}
        }

        t.closeEditor();
    }

    stop = true;
    audio.join();
}
