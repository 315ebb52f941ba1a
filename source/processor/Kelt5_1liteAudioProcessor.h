#pragma once

#include "processor/MeasurementConstants.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include "processor/MeterReadings.h"
#include "processor/MeterScale.h"
#include "processor/ProcessingGate.h"
#include "processor/RenderPace.h"
#include "processor/TarnLoudnessModule.h"
#include "processor/TruePeakDetector.h"

#include <array>
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
    void processorLayoutsChanged() override;

    /** The native or AudioSuite id of a main-bus layout: 'jcaa' or 'jyaa'
        plus 0 for 5.1, 1 for 5.0, 2 for stereo and 3 for mono. */
    juce::int32 getAAXPluginIDForMainBusConfig (const juce::AudioChannelSet& mainInputLayout,
                                                const juce::AudioChannelSet& mainOutputLayout,
                                                bool idForAudioSuite) const override;

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
    juce::String getParameterName (int index, int maximumStringLength) override;
    juce::String getParameterID (int index) override;
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
    /** Meter position of a loudness on the scale that `measurementScale`
        selects: +18 when it rounds to 18, +9 otherwise. Not clamped. */
    float loudnessToMeterPosition (float loudness) const noexcept;

    /** Starts the whole measurement again: readings, FIFOs, filter states,
        histograms and the engine's latest figures. Message thread. */
    void resetMeasurement();

    //==============================================================================
    /** The host position of the previous block; starts as the framework's
        default position, which is not playing. */
    juce::AudioPlayHead::CurrentPositionInfo lastPositionInfo;

    /** The frame rate of `lastPositionInfo`, for the editor: the audio thread
        rewrites that record on every block, so it cannot be read from another
        thread, while this one value can. */
    std::atomic<juce::AudioPlayHead::FrameRateType> lastFrameRate { juce::AudioPlayHead::fps23976 };

    TarnLoudnessModule loudnessModule;
    TruePeakDetector truePeakDetector;

    /** The engine's six latest figures as the last block copied them. */
    struct EngineFigures
    {
        float momentary = loudnessFloor, shortTerm = loudnessFloor, integrated = loudnessFloor,
              range = loudnessFloor, rangeLow = loudnessFloor, rangeHigh = loudnessFloor;
    };
    EngineFigures engineFigures;

    /** Per-channel true peak of the last block, dBTP. */
    std::array<float, TarnLoudnessModule::maxChannels> truePeakLevels;

    MeterReadings readings;

    /** Parameter 0: 1 while the host plays, 0 otherwise. */
    std::atomic<float> hostPlaying { 0.0f };
    /** Parameter 1: the meter scale in LU (9 or 18). */
    std::atomic<float> measurementScale { 18.0f };
    /** Parameter 2: the true-peak limit in dBTP. It starts at -1 dBTP, the
        value the editor applies whenever it opens. */
    std::atomic<float> truePeakMaxLevel { -1.0f };

    /** Each block's copy of the first six input channels, for the true peak. */
    juce::AudioSampleBuffer truePeakInput;

    /** The rate of the last prepareToPlay; 0 until then. */
    std::atomic<double> currentSampleRate { 0.0 };

    const MeterScale meterScale18 { -59.0f, -5.0f };
    const MeterScale meterScale9 { -41.0f, -14.0f };

    /** Whether the host pushes blocks far faster than real time. Audio thread. */
    RenderPace renderPace;

    /** Keeps preparation and measurement resets apart from running blocks. */
    ProcessingGate processingGate;

    /** Runs the engine's measurement step. Declared last, so it is the first
        member to go and no step can run on a half-destroyed engine. */
    juce::TimeSliceThread loudnessThread { "Kelt Loudness Thread" };

private:
    /** Holds off blocks (they pass through unmeasured) and measurement steps
        for its lifetime, so that what both use can be replaced or cleared.
        The gate closes first: a block in flight may still be running a step
        of its own under the step lock. */
    class ScopedMeasurementPause final
    {
    public:
        explicit ScopedMeasurementPause (Kelt5_1liteAudioProcessor& p)
            : noBlocks (p.processingGate), noStep (p.loudnessModule.stepLock) {}

    private:
        const ProcessingGate::ScopedClosure noBlocks;
        const std::lock_guard<std::mutex> noStep;

        JUCE_DECLARE_NON_COPYABLE (ScopedMeasurementPause)
    };

    /** Everything a block with samples measures, given its play state and
        whether the host needs it by a real-time deadline. */
    void measureBlock (juce::AudioSampleBuffer& buffer, std::int32_t nowPlaying, bool withoutDeadline);

    /** 1 when the host plays and its position moved since the last block. */
    std::int32_t updatePlayState();

    void publishReadings();
    void checkTruePeakLimit();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Kelt5_1liteAudioProcessor)
};
