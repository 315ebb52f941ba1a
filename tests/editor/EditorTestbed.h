#pragma once

#include "editor/Kelt5_1liteAudioProcessorEditor.h"
#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/TestPlayHead.h"
#include "support/ToneProgramme.h"

#include <stdexcept>

namespace juce
{
    // How the framework's plug-in wrappers run what is queued for the
    // message thread when a host drives the events.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

/** The host's record of the parameter changes that the plug-in reports. */
struct ParameterLog final : public juce::AudioProcessorListener
{
    void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override { changes.push_back ({ index, value }); }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    std::vector<std::pair<int, float>> changes;
};

/** Writes a picture for reviewers into the build's screenshot folder, or to a full path. */
inline bool writePng (const juce::Image& image, const juce::String& name)
{
    const auto file = juce::File (KELT_SCREENSHOT_DIR).getChildFile (name);
    juce::MemoryOutputStream png;
    return file.getParentDirectory().createDirectory() && juce::PNGImageFormat().writeImageToStream (image, png) && file.replaceWithData (png.getData(), png.getDataSize());
}

/** A processor with an open editor and a host that plays a steady 1 kHz sine
    through it: one 50 ms block, one measurement step and one refresh tick at
    a time, as they come when the loudness thread keeps up. */
struct EditorTestbed
{
    static constexpr double sampleRate = 48000.0;
    static constexpr int blockSize = 2400; // 50 whole periods

    EditorTestbed() : block (2, blockSize)
    {
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

    /** Runs what is queued for the message thread, such as the lists' notices. */
    static void runPendingMessages()
    {
        while (juce::dispatchNextMessageOnSystemQueue (true))
        {}
    }

    /** Plays the sine at a level in dBFS peak in both channels, at 25 fps. */
    void play (float level, double seconds)
    {
        ToneProgramme ({ { level, 1000.0, blockSize / sampleRate } }).fill (block);

        for (int b = 0; b < juce::roundToInt (seconds * 20.0); ++b)
        {
            playHead.set (true, position, sampleRate);
            playHead.position.setFrameRate (juce::AudioPlayHead::fps25);
            position += blockSize;
            p.processBlock (block, midi);
            p.loudnessModule.updateLoudness();
            tick();
        }
    }

    /** A left click at a point of the window, as the window system hands it on. */
    void click (juce::Point<float> point)
    {
        using Source = juce::MouseInputSource;

        for (auto buttons : { juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier), juce::ModifierKeys() })
            editor->getPeer()->handleMouseEvent (Source::InputSourceType::mouse, point, buttons, Source::defaultPressure,
                                                 Source::defaultOrientation, juce::Time::currentTimeMillis());
    }

    /** The part of a page (1 Meter, 2 Settings, 3 Statistics) that the layout
        puts at x, y. */
    template <typename Part = juce::Label>
    Part& at (int page, int x, int y)
    {
        for (auto* child : editor->getChildComponent (page)->getChildren())
            if (auto* part = dynamic_cast<Part*> (child); part != nullptr && child->getPosition() == juce::Point<int> (x, y))
                return *part;

        throw std::runtime_error ("nothing of that kind at " + std::to_string (x) + ", " + std::to_string (y));
    }

    /** A Statistics value: 0 program loudness, 1 range, 2 and 3 the highest
        short-term and momentary loudness. */
    juce::Label& statistic (int row) { return dynamic_cast<juce::Label&> (*editor->getChildComponent (3)->getChildComponent (2 + 3 * row)); }

    juce::TabbedButtonBar& tabs() { return dynamic_cast<juce::TabbedButtonBar&> (*editor->getChildComponent (0)); }

    juce::Image snapshot() { return editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f); }

    TestPlayHead playHead; // outlives the processor that holds it
    Kelt5_1liteAudioProcessor p;
    juce::AudioSampleBuffer block;
    juce::MidiBuffer midi;
    juce::int64 position = 0;
    std::unique_ptr<Kelt5_1liteAudioProcessorEditor> editor;
};
