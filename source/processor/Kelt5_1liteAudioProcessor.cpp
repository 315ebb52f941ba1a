#include "processor/Kelt5_1liteAudioProcessor.h"

#include "editor/Kelt5_1liteAudioProcessorEditor.h"

namespace
{
    constexpr int numParameters = 3;
    constexpr auto relaxed = std::memory_order_relaxed;

    /** Two decimals, rounded half away from zero on the magnitude, with the
        sign kept for values that round to zero ("-0.00"). */
    juce::String formatTwoDecimals (double value)
    {
        const auto magnitude = std::abs (value) * 100.0 + 0.5;

        if (! (magnitude < 9.0e18))   // not finite, or too large for an integer
            return juce::String (value, 2);

        const auto hundredths = static_cast<juce::int64> (magnitude);
        const auto fraction = static_cast<int> (hundredths % 100);

        return juce::String (value < 0.0 ? "-" : "")
             + juce::String (hundredths / 100)
             + (fraction < 10 ? ".0" : ".")
             + juce::String (fraction);
    }
}

//==============================================================================
Kelt5_1liteAudioProcessor::Kelt5_1liteAudioProcessor()
    : juce::AudioProcessor ({ JucePlugin_PreferredChannelConfigurations })
{
    lastPositionInfo.resetToDefault();

    // Last, so that the thread never sees a half-built processor.
    loudnessThread.startThread();
}

Kelt5_1liteAudioProcessor::~Kelt5_1liteAudioProcessor()
{
    // The thread is stopped before any member goes, so no measurement step
    // can outlive the engine.
    loudnessThread.stopThread (1000);
}

//==============================================================================
const juce::String Kelt5_1liteAudioProcessor::getName() const
{
    return "Kelt5.1 LE";
}

void Kelt5_1liteAudioProcessor::prepareToPlay (double sampleRate, int)
{
    currentSampleRate.store (sampleRate, relaxed);

    // Adding a client that is already attached only makes its next step due.
    loudnessThread.addTimeSliceClient (&loudnessModule);
}

void Kelt5_1liteAudioProcessor::releaseResources()
{
    // Waits for a running step; the engine keeps all of its data.
    loudnessThread.removeTimeSliceClient (&loudnessModule);
}

void Kelt5_1liteAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const auto numSamples = buffer.getNumSamples();

    for (auto channel = getTotalNumInputChannels(); channel < getTotalNumOutputChannels(); ++channel)
        buffer.clear (channel, 0, numSamples);
}

bool Kelt5_1liteAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    return containsLayout (layouts, { JucePlugin_PreferredChannelConfigurations });
}

//==============================================================================
const juce::String Kelt5_1liteAudioProcessor::getInputChannelName (int channelIndex) const
{
    return juce::String (channelIndex + 1);
}

const juce::String Kelt5_1liteAudioProcessor::getOutputChannelName (int channelIndex) const
{
    return juce::String (channelIndex + 1);
}

bool Kelt5_1liteAudioProcessor::isInputChannelStereoPair (int) const   { return true; }
bool Kelt5_1liteAudioProcessor::isOutputChannelStereoPair (int) const  { return true; }
bool Kelt5_1liteAudioProcessor::silenceInProducesSilenceOut() const    { return true; }
double Kelt5_1liteAudioProcessor::getTailLengthSeconds() const         { return 0.0; }
bool Kelt5_1liteAudioProcessor::acceptsMidi() const                    { return false; }
bool Kelt5_1liteAudioProcessor::producesMidi() const                   { return false; }

juce::AudioProcessorEditor* Kelt5_1liteAudioProcessor::createEditor()
{
    return new Kelt5_1liteAudioProcessorEditor (*this);
}

bool Kelt5_1liteAudioProcessor::hasEditor() const { return true; }

//==============================================================================
int Kelt5_1liteAudioProcessor::getNumParameters()
{
    return numParameters;
}

float Kelt5_1liteAudioProcessor::getParameter (int index)
{
    switch (index)
    {
        case 0:  return hostPlaying.load (relaxed);
        case 1:  return (measurementScale.load (relaxed) + -9.0f) / 9.0f;
        case 2:  return (truePeakMaxLevel.load (relaxed) + 12.0f) / 11.0f;
        default: return 0.0f;
    }
}

void Kelt5_1liteAudioProcessor::setParameter (int index, float newValue)
{
    // Host values are stored as given: no clamping, no rounding of the scale.
    switch (index)
    {
        case 0:  hostPlaying.store (newValue, relaxed); break;
        case 1:  measurementScale.store (newValue * 9.0f + 9.0f, relaxed); break;
        case 2:  truePeakMaxLevel.store (newValue * 11.0f + -12.0f, relaxed); break;
        default: break;
    }
}

const juce::String Kelt5_1liteAudioProcessor::getParameterName (int index)
{
    switch (index)
    {
        case 0:  return "Host Playstate";
        case 1:  return "Measurement Scale";
        case 2:  return "TruePeak Max Level";
        default: return {};
    }
}

const juce::String Kelt5_1liteAudioProcessor::getParameterText (int index)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    return formatTwoDecimals (static_cast<double> (getParameter (index)));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

//==============================================================================
int Kelt5_1liteAudioProcessor::getNumPrograms()                             { return 0; }
int Kelt5_1liteAudioProcessor::getCurrentProgram()                          { return 0; }
void Kelt5_1liteAudioProcessor::setCurrentProgram (int)                     {}
const juce::String Kelt5_1liteAudioProcessor::getProgramName (int)          { return {}; }
void Kelt5_1liteAudioProcessor::changeProgramName (int, const juce::String&) {}

//==============================================================================
void Kelt5_1liteAudioProcessor::getStateInformation (juce::MemoryBlock&)
{
}

void Kelt5_1liteAudioProcessor::setStateInformation (const void*, int)
{
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Kelt5_1liteAudioProcessor();
}
