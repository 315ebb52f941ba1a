#pragma once

#include "editor/EditorParts.h"
#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/TestPlayHead.h"

#include <cmath>
#include <memory>
#include <vector>

namespace juce
{
    // The framework's own way of running what is queued for the message
    // thread, as its plug-in wrappers do when a host drives the events.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

/** A processor and an open editor, with a host that plays a steady 1 kHz
    sine through it: one 50 ms block, one measurement step and one refresh
    tick at a time, as they come when the loudness thread keeps up. */
struct EditorTestbed
{
    static constexpr double sampleRate = 48000.0;
    static constexpr int blockSize = 2400;   // 50 whole periods of 1 kHz

    explicit EditorTestbed (int numChannels = 2)
        : block (numChannels, blockSize)
    {
        p.setPlayConfigDetails (numChannels, numChannels, sampleRate, blockSize);
        p.prepareToPlay (sampleRate, blockSize);
        p.releaseResources();   // the steps run here, after each block
        p.setPlayHead (&playHead);
        openEditor();
    }

    void openEditor()
    {
        editor.reset (static_cast<Kelt5_1liteAudioProcessorEditor*> (p.createEditorIfNeeded()));
        parts = std::make_unique<EditorParts> (*editor);
    }

    /** Plays the sine at a level in dBFS peak for each channel. */
    void play (const std::vector<float>& levels, double seconds)
    {
        for (int b = 0; b < juce::roundToInt (seconds * 20.0); ++b)
        {
            for (int c = 0; c < block.getNumChannels(); ++c)
                for (int i = 0; i < blockSize; ++i)
                    block.setSample (c, i, std::pow (10.0f, levels[(size_t) c] / 20.0f)
                                             * (float) std::sin (juce::MathConstants<double>::twoPi * 1000.0 * i / sampleRate));

            playHead.set (true, position, sampleRate);
            playHead.position.setFrameRate (juce::AudioPlayHead::fps25);
            position += blockSize;

            p.processBlock (block, midi);
            p.loudnessModule.updateLoudness();

            if (editor != nullptr)
                tick();
        }
    }

    void tick()     { editor->timerCallback(); }

    static void runPendingMessages()
    {
        while (juce::dispatchNextMessageOnSystemQueue (true)) {}
    }

    TestPlayHead playHead;   // outlives the processor that holds it
    Kelt5_1liteAudioProcessor p;
    juce::AudioSampleBuffer block;
    juce::MidiBuffer midi;
    juce::int64 position = 0;
    std::unique_ptr<Kelt5_1liteAudioProcessorEditor> editor;
    std::unique_ptr<EditorParts> parts;
};
