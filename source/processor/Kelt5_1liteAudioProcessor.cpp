#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/MeasurementConstants.h"

#include "editor/Kelt5_1liteAudioProcessorEditor.h"
#include "processor/LoudnessRounding.h"
#include "processor/SavedSettings.h"

namespace
{
    constexpr int numParameters = 3;

    // What VST 2 hosts make room for, in bytes before the terminating zero.
    constexpr int vst2NameBytes = 15;
    constexpr int vst2TextBytes = 23;

    /** The longest start of the text that fits in maxBytes of UTF-8, without
        splitting a character. */
    juce::String firstBytes (const juce::String& text, int maxBytes)
    {
        auto bytes = 0;
        auto numChars = 0;

        for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p, ++numChars)
        {
            bytes += static_cast<int> (juce::CharPointer_UTF8::getBytesRequiredFor (*p));

            if (bytes > maxBytes)
                break;
        }

        return text.substring (0, numChars);
    }

    /** Two decimals, rounded half away from zero on the magnitude, with the
        sign kept for values that round to zero ("-0.00"). */
    juce::String formatTwoDecimals (double value)
    {
        const auto magnitude = std::abs (value) * 100.0 + 0.5;

        if (! (magnitude < 9.0e18)) // not finite, or too large for an integer
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
    truePeakLevels.fill (loudnessFloor);
    processorLayoutsChanged();

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

void Kelt5_1liteAudioProcessor::prepareToPlay (double sampleRate, int estimatedSamplesPerBlock)
{
    currentSampleRate.store (sampleRate, relaxed);

    {
        // A host may prepare again without releasing, even while blocks run:
        // no block and no measurement step may see the buffers being replaced.
        const ScopedMeasurementPause pause (*this);

        loudnessModule.prepare (sampleRate, estimatedSamplesPerBlock);
        truePeakDetector.prepare (sampleRate, estimatedSamplesPerBlock);

        // Sized here so that blocks of the announced length never allocate.
        truePeakInput.setSize (TarnLoudnessModule::maxChannels, juce::jmax (0, estimatedSamplesPerBlock));
    }

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

    if (numSamples > 0)
    {
        // Asked before entering the gate: the play head calls back into the
        // host, which must never hold up a preparation waiting at the gate.
        const auto nowPlaying = updatePlayState();

        // Offline, or at the start or end of a take, what went before says
        // nothing of the pace to come: after an export the host plays in
        // real time at once, and its blocks must not be measured here.
        const bool offline = isNonRealtime();

        if (offline || nowPlaying != loudnessModule.playing.load (relaxed))
            renderPace.reset();

        const bool fasterThanRealTime = ! offline && renderPace.isFasterThanRealTime (numSamples, currentSampleRate.load (relaxed));

        const ProcessingGate::ScopedEntry entry (processingGate);

        if (entry.entered())
            measureBlock (buffer, nowPlaying, offline || fasterThanRealTime);
    }

    for (auto channel = getTotalNumInputChannels(); channel < getTotalNumOutputChannels(); ++channel)
        buffer.clear (channel, 0, numSamples);
}

void Kelt5_1liteAudioProcessor::measureBlock (juce::AudioSampleBuffer& buffer, std::int32_t nowPlaying, bool withoutDeadline)
{
    const auto numSamples = buffer.getNumSamples();
    const auto numChannels = buffer.getNumChannels();

    if (nowPlaying != loudnessModule.playing.load (relaxed))
    {
        // A new take: windows and filter memory start afresh.
        loudnessModule.resetFifos();
        loudnessModule.resetFilters();
    }

    loudnessModule.playing.store (nowPlaying, relaxed);
    hostPlaying.store (nowPlaying != 0 ? 1.0f : 0.0f, relaxed);

    if (nowPlaying != 0)
        readings.measuredSamples.store (readings.measuredSamples.load (relaxed) + static_cast<double> (numSamples), relaxed);

    const auto truePeakChannels = juce::jmin (numChannels, TarnLoudnessModule::maxChannels);
    truePeakInput.setSize (TarnLoudnessModule::maxChannels, numSamples, false, false, true);

    for (int c = 0; c < TarnLoudnessModule::maxChannels; ++c)
    {
        if (c < truePeakChannels)
            truePeakInput.copyFrom (c, 0, buffer, c, 0, numSamples);
        else
            truePeakInput.clear (c, 0, numSamples);
    }

    loudnessModule.weight (buffer);

    // A render, said or not, outruns the loudness thread: its windows are
    // measured here, all of them, so that a full FIFO or the stop at its end
    // loses none. In real time the loudness thread does all of it, catching
    // up after a stall, so a block's work never grows with its backlog.
    loudnessModule.measuredByAudioThread.store (withoutDeadline, relaxed);

    if (withoutDeadline)
        loudnessModule.pushMeasuringWholeWindows ([this] { publishReadings(); });
    else
        loudnessModule.push (0, numSamples);

    publishReadings();

    truePeakDetector.process (truePeakInput, truePeakLevels);
    checkTruePeakLimit();
}

std::int32_t Kelt5_1liteAudioProcessor::updatePlayState()
{
    juce::AudioPlayHead::CurrentPositionInfo position;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    auto* head = getPlayHead();
    const bool havePosition = head != nullptr && head->getCurrentPosition (position);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    if (! havePosition)
    {
        lastPositionInfo.resetToDefault();
        lastFrameRate.store (lastPositionInfo.frameRate.getType(), relaxed);
        return 0;
    }

    // A host that says it plays but repeats its position is not playing.
    const bool moved = ! (position == lastPositionInfo);
    lastPositionInfo = position;
    lastFrameRate.store (position.frameRate.getType(), relaxed);

    return moved && position.isPlaying ? 1 : 0;
}

void Kelt5_1liteAudioProcessor::publishReadings()
{
    auto& engine = loudnessModule;

    engineFigures.momentary = engine.latestMomentary.load (relaxed);
    engineFigures.shortTerm = engine.latestShortTerm.load (relaxed);
    engineFigures.integrated = engine.latestIntegrated.load (relaxed);
    engineFigures.range = engine.latestRange.load (relaxed);
    engineFigures.rangeLow = engine.latestRangeLow.load (relaxed);
    engineFigures.rangeHigh = engine.latestRangeHigh.load (relaxed);

    const auto& f = engineFigures;

    if (engine.newMomentaryAvailable.load (relaxed))
    {
        readings.momentaryMeterPosition.store (loudnessToMeterPosition (round1 (f.momentary)), relaxed);
        readings.momentaryLoudness.store (f.momentary, relaxed);

        if (f.momentary > readings.maxMomentaryLoudness.load (relaxed))
            readings.maxMomentaryLoudness.store (f.momentary, relaxed);

        readings.integratedLoudness.store (round1 (f.integrated), relaxed);
    }

    if (engine.newShortTermAvailable.load (relaxed))
    {
        readings.shortTermLoudness.store (f.shortTerm, relaxed);

        if (f.shortTerm > readings.maxShortTermLoudness.load (relaxed))
            readings.maxShortTermLoudness.store (f.shortTerm, relaxed);

        readings.shortTermMeterPosition.store (loudnessToMeterPosition (round1 (f.shortTerm)), relaxed);
        readings.loudnessRange.store (round1 (f.range), relaxed);
        readings.rangeLowMeterPosition.store (loudnessToMeterPosition (round1 (f.rangeLow)), relaxed);
        readings.rangeHighMeterPosition.store (loudnessToMeterPosition (round1 (f.rangeHigh)), relaxed);
    }
}

void Kelt5_1liteAudioProcessor::checkTruePeakLimit()
{
    auto highest = truePeakLevels[0];

    for (auto level : truePeakLevels)
        if (level > highest)
            highest = level;

    if (round1 (highest) > truePeakMaxLevel.load (relaxed))
        readings.truePeakOverload.store (1, relaxed);
}

float Kelt5_1liteAudioProcessor::loudnessToMeterPosition (float loudness) const noexcept
{
    const auto& scale = juce::roundToInt (measurementScale.load (relaxed)) == 18 ? meterScale18 : meterScale9;
    return scale.position (loudness);
}

void Kelt5_1liteAudioProcessor::resetMeasurement()
{
    // Neither a block nor a measurement step overlaps the reset, so nothing
    // computed from the old measurement is published after it.
    const ScopedMeasurementPause pause (*this);

    readings.setInitialValues();
    loudnessModule.resetFifos();
    loudnessModule.resetFilters();
    loudnessModule.clearMeasurement();
}

void Kelt5_1liteAudioProcessor::processorLayoutsChanged()
{
    // The loudness weighs each channel by what the host says it is.
    loudnessModule.setChannelLayout (getChannelLayoutOfBus (true, 0));
}

bool Kelt5_1liteAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    return containsLayout (layouts, { JucePlugin_PreferredChannelConfigurations });
}

juce::int32 Kelt5_1liteAudioProcessor::getAAXPluginIDForMainBusConfig (const juce::AudioChannelSet& mainInputLayout,
                                                                       const juce::AudioChannelSet& mainOutputLayout,
                                                                       bool idForAudioSuite) const
{
    // Each layout keeps its number, and so its id in saved sessions, whatever
    // order the channel configurations are offered in.
    const juce::AudioChannelSet numberedLayouts[] { juce::AudioChannelSet::create5point1(),
                                                    juce::AudioChannelSet::create5point0(),
                                                    juce::AudioChannelSet::stereo(),
                                                    juce::AudioChannelSet::mono() };

    if (mainInputLayout == mainOutputLayout)
        for (juce::int32 n = 0; n < 4; ++n)
            if (mainInputLayout == numberedLayouts[n])
                return (idForAudioSuite ? 0x6a796161 /* 'jyaa' */ : 0x6a636161 /* 'jcaa' */) + n;

    return juce::AudioProcessor::getAAXPluginIDForMainBusConfig (mainInputLayout, mainOutputLayout, idForAudioSuite);
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

bool Kelt5_1liteAudioProcessor::isInputChannelStereoPair (int) const { return true; }
bool Kelt5_1liteAudioProcessor::isOutputChannelStereoPair (int) const { return true; }
bool Kelt5_1liteAudioProcessor::silenceInProducesSilenceOut() const { return true; }
double Kelt5_1liteAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool Kelt5_1liteAudioProcessor::acceptsMidi() const { return false; }
bool Kelt5_1liteAudioProcessor::producesMidi() const { return false; }

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
        case 0: return hostPlaying.load (relaxed);
        case 1: return (measurementScale.load (relaxed) + -9.0f) / 9.0f;
        case 2: return (truePeakMaxLevel.load (relaxed) + 12.0f) / 11.0f;
        default: return 0.0f;
    }
}

void Kelt5_1liteAudioProcessor::setParameter (int index, float newValue)
{
    // Host values are stored as given: no clamping, no rounding of the scale.
    switch (index)
    {
        case 0: hostPlaying.store (newValue, relaxed); break;
        case 1: measurementScale.store (newValue * 9.0f + 9.0f, relaxed); break;
        case 2: truePeakMaxLevel.store (newValue * 11.0f + -12.0f, relaxed); break;
        default: break;
    }
}

const juce::String Kelt5_1liteAudioProcessor::getParameterName (int index)
{
    switch (index)
    {
        case 0: return "Host Playstate";
        case 1: return "Measurement Scale";
        case 2: return "TruePeak Max Level";
        default: return {};
    }
}

const juce::String Kelt5_1liteAudioProcessor::getParameterText (int index)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    const auto text = formatTwoDecimals (static_cast<double> (getParameter (index)));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    // VST 2 hosts take at most 23 bytes of a value text; JUCE's wrapper
    // would pass 24.
    return wrapperType == wrapperType_VST ? firstBytes (text, vst2TextBytes) : text;
}

juce::String Kelt5_1liteAudioProcessor::getParameterName (int index, int maximumStringLength)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    const auto name = getParameterName (index).substring (0, maximumStringLength);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    // VST 2 hosts take at most 15 bytes of a parameter name; JUCE's wrapper
    // would pass 32.
    return wrapperType == wrapperType_VST ? firstBytes (name, vst2NameBytes) : name;
}

juce::String Kelt5_1liteAudioProcessor::getParameterID (int index)
{
    // LV2 turns the default identifiers "0", "1" and "2" into one port symbol,
    // so its hosts could not tell the parameters apart. Other formats keep
    // the default identifiers their hosts' sessions refer to.
    if (wrapperType == wrapperType_LV2)
    {
        switch (index)
        {
            case 0: return "hostPlaying";
            case 1: return "measurementScale";
            case 2: return "truePeakMaxLevel";
            default: break;
        }
    }

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    return juce::AudioProcessor::getParameterID (index);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

//==============================================================================
int Kelt5_1liteAudioProcessor::getNumPrograms() { return 0; }
int Kelt5_1liteAudioProcessor::getCurrentProgram() { return 0; }
void Kelt5_1liteAudioProcessor::setCurrentProgram (int) {}
const juce::String Kelt5_1liteAudioProcessor::getProgramName (int) { return {}; }
void Kelt5_1liteAudioProcessor::changeProgramName (int, const juce::String&) {}

void Kelt5_1liteAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    SavedSettings::write (measurementScale.load (relaxed), destData);
}

void Kelt5_1liteAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    // Whatever is not a readable block of ours leaves the scale as it is.
    if (const auto scale = SavedSettings::read (data, sizeInBytes))
        measurementScale.store (*scale, relaxed);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Kelt5_1liteAudioProcessor();
}
