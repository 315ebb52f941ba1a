#include "editor/Kelt5_1liteAudioProcessorEditor.h"

#include "processor/Kelt5_1liteAudioProcessor.h"

Kelt5_1liteAudioProcessorEditor::Kelt5_1liteAudioProcessorEditor (Kelt5_1liteAudioProcessor& p)
    : juce::AudioProcessorEditor (p), keltProcessor (p)
{
    setResizable (false, false);
    setSize (editorWidth, editorHeight);
}

Kelt5_1liteAudioProcessorEditor::~Kelt5_1liteAudioProcessorEditor() = default;

void Kelt5_1liteAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
}
