#include <gtest/gtest.h>

#include "host/HostedPluginLoader.h"
#include "host/Vst2DirectHost.h"
#include "support/TestPlayHead.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

// The built plug-ins' editors as a host shows them: in a window of the
// host's, drawn by the plug-in's own copy of the framework.

namespace
{
    using Format = HostedPluginLoader::Format;

    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 2400;

    void runMessageLoop (int milliseconds)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }

    /** What the screen shows of the window: the plug-in's embedded window
        included, which the host's own component snapshot cannot see. */
    juce::Image grabWindow (juce::Component& editor)
    {
        juce::Image result;
        auto* display = XOpenDisplay (nullptr);

        if (display == nullptr || editor.getPeer() == nullptr)
            return result;

        const auto window = reinterpret_cast<Window> (editor.getPeer()->getNativeHandle());

        if (auto* image = XGetImage (display, window, 0, 0, static_cast<unsigned> (editor.getWidth()),
                                     static_cast<unsigned> (editor.getHeight()), AllPlanes, ZPixmap))
        {
            result = juce::Image (juce::Image::RGB, image->width, image->height, false);

            for (int y = 0; y < image->height; ++y)
                for (int x = 0; x < image->width; ++x)
                    result.setPixelAt (x, y, juce::Colour (static_cast<juce::uint32> (XGetPixel (image, x, y)) | 0xff000000u));

            XDestroyImage (image);
        }

        XCloseDisplay (display);
        return result;
    }

    /** How many pixels of the integrated value's text rows differ from the
        value label drawn here with the given text: 15 points, centred, green
        on the page's black. */
    int pixelsDifferingFrom (const juce::Image& screen, const juce::String& text)
    {
        const juce::Rectangle<int> labelArea { 154, 30 + 75, 84, 60 };
        const juce::Range<int> textRows { 18, 40 };   // above the caption beneath

        juce::Label label;
        label.setFont (juce::Font (15.0f));
        label.setJustificationType (juce::Justification::centred);
        label.setColour (juce::Label::textColourId, juce::Colour (0xff81ca2f));
        label.setText (text, juce::dontSendNotification);
        label.setSize (labelArea.getWidth(), labelArea.getHeight());

        juce::Image expected (juce::Image::RGB, labelArea.getWidth(), labelArea.getHeight(), true);
        {
            juce::Graphics g (expected);
            label.paintEntireComponent (g, false);
        }

        int differing = 0;

        for (int y = textRows.getStart(); y < textRows.getEnd(); ++y)
            for (int x = 0; x < labelArea.getWidth(); ++x)
                differing += screen.getPixelAt (labelArea.getX() + x, labelArea.getY() + y) != expected.getPixelAt (x, y) ? 1 : 0;

        return differing;
    }
}

TEST (HostedEditor, Vst3ShowsTheIntegratedLoudnessOfWhatThePlugInHeard)
{
    HostedPluginLoader loader;
    juce::String error;
    auto instance = loader.createInstance (Format::vst3, sampleRate, blockSize, error);
    ASSERT_NE (instance, nullptr) << error;

    // An export: the plug-in measures every window as the blocks come.
    instance->setNonRealtime (true);
    instance->prepareToPlay (sampleRate, blockSize);
    TestPlayHead playHead;
    instance->setPlayHead (&playHead);

    // 5 s of a 1 kHz sine at -23 dBFS in left and right: -23 LUFS.
    juce::AudioBuffer<float> block (instance->getTotalNumInputChannels(), blockSize);
    juce::MidiBuffer midi;
    const auto amplitude = std::pow (10.0, -23.0 / 20.0);

    for (int b = 0; b < 100; ++b)
    {
        block.clear();

        for (int i = 0; i < blockSize; ++i)
            for (int c = 0; c < 2; ++c)
                block.setSample (c, i, static_cast<float> (amplitude * std::sin (juce::MathConstants<double>::twoPi * 1000.0 * i / sampleRate)));

        playHead.set (true, b * blockSize, sampleRate);
        instance->processBlock (block, midi);
    }

    std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
    ASSERT_NE (editor, nullptr);
    editor->addToDesktop (0);
    editor->setVisible (true);
    runMessageLoop (1000);   // many refresh ticks

    const auto screen = grabWindow (*editor);
    ASSERT_TRUE (screen.isValid());

    const auto shown = pixelsDifferingFrom (screen, "-23.0 LUFS");
    EXPECT_LE (shown, 10);

    for (auto* other : { "-22.9 LUFS", "-23.1 LUFS", "-23.0 LKFS", "-" })
        EXPECT_GT (pixelsDifferingFrom (screen, other), shown + 40) << other;

    editor.reset();
    instance->releaseResources();
}

//==============================================================================
namespace
{
    /** A host's audio thread: blocks of noise as fast as they go. */
    class AudioThread final
    {
    public:
        explicit AudioThread (std::function<void (juce::AudioBuffer<float>&)> processToUse)
            : process (std::move (processToUse)), thread ([this] { run(); })
        {
        }

        ~AudioThread()
        {
            stop = true;
            thread.join();
        }

    private:
        void run()
        {
            juce::AudioBuffer<float> block (6, 512);
            juce::Random random (7);

            while (! stop)
            {
                for (int c = 0; c < block.getNumChannels(); ++c)
                    for (int i = 0; i < block.getNumSamples(); ++i)
                        block.setSample (c, i, random.nextFloat() - 0.5f);

                process (block);
                std::this_thread::sleep_for (std::chrono::milliseconds (2));
            }
        }

        std::function<void (juce::AudioBuffer<float>&)> process;
        std::atomic<bool> stop { false };
        std::thread thread;
    };

    constexpr int openings = 100;
}

class HostedEditorOpenings : public ::testing::TestWithParam<Format> {};

TEST_P (HostedEditorOpenings, OpenAndCloseAHundredTimesWhileTheAudioRuns)
{
    HostedPluginLoader loader;
    juce::String error;
    auto instance = loader.createInstance (GetParam(), sampleRate, 512, error);
    ASSERT_NE (instance, nullptr) << error;
    instance->prepareToPlay (sampleRate, 512);

    {
        juce::MidiBuffer midi;
        const AudioThread audio ([&] (juce::AudioBuffer<float>& block) { instance->processBlock (block, midi); });

        for (int i = 0; i < openings; ++i)
        {
            std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
            ASSERT_NE (editor, nullptr) << i;
            editor->addToDesktop (0);
            editor->setVisible (true);
            // Long enough for a refresh tick. (JUCE 7.0.5's LV2 hosting
            // crashes when an editor closes within a few milliseconds of
            // opening, whatever the plug-in's editor holds.)
            runMessageLoop (60);
        }
    }

    instance->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedEditorOpenings, ::testing::Values (Format::vst3, Format::lv2),
                          [] (const ::testing::TestParamInfo<Format>& format)
                          {
                              return HostedPluginLoader::getFormatName (format.param).toStdString();
                          });

TEST (HostedEditor, Vst2OpensAndClosesAHundredTimesWhileTheAudioRuns)
{
    Vst2DirectHost host { KELT_VST2_BINARY };
    ASSERT_TRUE (host.isLoaded()) << host.getError();
    host.setRateAndBlockSize (sampleRate, 512);
    host.resume();

    {
        const AudioThread audio ([&] (juce::AudioBuffer<float>& block)
        {
            host.processReplacing (block.getArrayOfWritePointers(), block.getArrayOfWritePointers(), block.getNumSamples());
        });

        for (int i = 0; i < openings; ++i)
            ASSERT_EQ (host.openEditorInX11Window (2000).width, 249) << i;
    }

    host.suspend();
}
