#include <gtest/gtest.h>

#include "host/HostedPluginLoader.h"
#include "support/TestPlayHead.h"
#include "support/ToneProgramme.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace
{
    // The text rows of the integrated value, in the window: above its caption.
    const juce::Rectangle<int> valueText { 154, 30 + 75 + 18, 84, 22 };

    /** Those rows as the screen shows them, with the plug-in's embedded
        window, which the host's own component snapshot cannot see. */
    juce::Image grabValueText (juce::ComponentPeer& peer)
    {
        juce::Image shown (juce::Image::RGB, valueText.getWidth(), valueText.getHeight(), true);
        auto* display = XOpenDisplay (nullptr);

        if (auto* image = display == nullptr ? nullptr
                                             : XGetImage (display, (Window) peer.getNativeHandle(), valueText.getX(), valueText.getY(),
                                                          (unsigned) valueText.getWidth(), (unsigned) valueText.getHeight(), AllPlanes, ZPixmap))
        {
            for (int y = 0; y < image->height; ++y)
                for (int x = 0; x < image->width; ++x)
                    shown.setPixelAt (x, y, juce::Colour ((juce::uint32) XGetPixel (image, x, y) | 0xff000000u));

            XDestroyImage (image);
        }

        if (display != nullptr)
            XCloseDisplay (display);

        return shown;
    }

    /** How many of them differ from the value label drawn here with a text:
        15 points, centred, green on the page's black. */
    int pixelsDifferingFrom (const juce::Image& shown, const juce::String& text)
    {
        juce::Label label;
        label.setFont (juce::Font (15.0f));
        label.setJustificationType (juce::Justification::centred);
        label.setColour (juce::Label::textColourId, juce::Colour (0xff81ca2f));
        label.setText (text, juce::dontSendNotification);
        label.setSize (valueText.getWidth(), 60);

        juce::Image expected (juce::Image::RGB, label.getWidth(), label.getHeight(), true);
        juce::Graphics g (expected);
        label.paintEntireComponent (g, false);

        int differing = 0;

        for (int y = 0; y < shown.getHeight(); ++y)
            for (int x = 0; x < shown.getWidth(); ++x)
                differing += shown.getPixelAt (x, y) != expected.getPixelAt (x, y + 18) ? 1 : 0;

        return differing;
    }
}

TEST (HostedEditor, Vst3ShowsTheIntegratedLoudnessOfWhatThePlugInHeard)
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 2400;
    TestPlayHead playHead;
    HostedPluginLoader loader;
    juce::String error;
    auto instance = loader.createInstance (HostedPluginLoader::Format::vst3, sampleRate, blockSize, error);
    ASSERT_NE (instance, nullptr) << error;

    // An export, so the plug-in measures every window as the blocks come:
    // 5 s of 1 kHz at -23 dBFS in left and right, -23 LUFS.
    instance->setNonRealtime (true);
    instance->prepareToPlay (sampleRate, blockSize);
    instance->setPlayHead (&playHead);
    juce::AudioBuffer<float> block (instance->getTotalNumInputChannels(), blockSize);
    juce::MidiBuffer midi;
    ToneProgramme tone ({ { -23.0, 1000.0, 5.0 } }, sampleRate);

    for (juce::int64 position = 0; tone.fill (block) == blockSize; position += blockSize)
    {
        playHead.set (true, position, sampleRate);
        instance->processBlock (block, midi);
    }

    std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
    ASSERT_NE (editor, nullptr);
    editor->setTopLeftPosition (1000, 500); // clear of the windows of tests running beside this one
    editor->addToDesktop (0);
    editor->setVisible (true);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (1000); // many refresh ticks

    const auto shown = grabValueText (*editor->getPeer());
    const auto differing = pixelsDifferingFrom (shown, "-23.0 LUFS");
    EXPECT_LE (differing, 10);

    for (auto* other : { "-22.9 LUFS", "-23.1 LUFS", "-23.0 LKFS", "-" })
        EXPECT_GT (pixelsDifferingFrom (shown, other), differing + 40) << other;

    editor.reset();
    instance->releaseResources();
}
