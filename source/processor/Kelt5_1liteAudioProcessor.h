#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "processor/TarnLoudnessModule.h"

#include <atomic>

/** The plug-in's processor: answers the host, keeps the three parameters and
    the saved scale, and runs the loudness engine on its own thread.

    The parameters are served through the indexed parameter interface, so no
    parameter objects are registered.
*/
class Kelt5_1liteAudioProcessor final : public juce::AudioProcessor
{
public:
    Kelt5_1liteAudioProcessor();
    ~Kelt5_1liteAudioProcessor() override;

    //==============================================================================
    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int estimatedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;

    bool isBusesLayoutSupported (const BusesLayout&) const override;

    const juce::String getInputChannelName (int channelIndex) const override;
    const juce::String getOutputChannelName (int channelIndex) const override;
    bool isInputChannelStereoPair (int index) const override;
    bool isOutputChannelStereoPair (int index) const override;
    bool silenceInProducesSilenceOut() const override;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    //==============================================================================
    // The indexed parameter interface is deprecated in JUCE 7 but still drives
    // every wrapper for a processor without parameter objects.
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    int getNumParameters() override;
    float getParameter (int index) override;
    void setParameter (int index, float newValue) override;
    const juce::String getParameterName (int index) override;
    const juce::String getParameterText (int index) override;
    using juce::AudioProcessor::getParameterName;
    using juce::AudioProcessor::getParameterText;
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    //==============================================================================
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    //==============================================================================
    /** The host position of the previous block; starts as the framework's
        default position, which is not playing. */
    juce::AudioPlayHead::CurrentPositionInfo lastPositionInfo;

    TarnLoudnessModule loudnessModule;

    /** Parameter 0: 1 while the host plays, 0 otherwise. */
    std::atomic<float> hostPlaying { 0.0f };
    /** Parameter 1: the meter scale in LU (9 or 18). */
    std::atomic<float> measurementScale { 18.0f };
    /** Parameter 2: the true-peak limit in dBTP. It starts at -1 dBTP, the
        value the editor applies whenever it opens. */
    std::atomic<float> truePeakMaxLevel { -1.0f };

    /** The rate of the last prepareToPlay; 0 until then. */
    std::atomic<double> currentSampleRate { 0.0 };

    /** Runs the engine's measurement step. Declared last, so it is the first
        member to go and no step can run on a half-destroyed engine. */
    juce::TimeSliceThread loudnessThread { "Kelt Loudness Thread" };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Kelt5_1liteAudioProcessor)
};
