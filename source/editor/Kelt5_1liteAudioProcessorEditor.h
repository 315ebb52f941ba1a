#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class Kelt5_1liteAudioProcessor;

/** The plug-in's window: fixed at 249 x 502 pixels. */
class Kelt5_1liteAudioProcessorEditor final : public juce::AudioProcessorEditor
{
public:
    explicit Kelt5_1liteAudioProcessorEditor (Kelt5_1liteAudioProcessor&);
    ~Kelt5_1liteAudioProcessorEditor() override;

    void paint (juce::Graphics&) override;

    static constexpr int editorWidth = 249;
    static constexpr int editorHeight = 502;

private:
    Kelt5_1liteAudioProcessor& keltProcessor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Kelt5_1liteAudioProcessorEditor)
};
