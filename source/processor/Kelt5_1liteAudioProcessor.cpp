#include "processor/Kelt5_1liteAudioProcessor.h"

#include "editor/Kelt5_1liteAudioProcessorEditor.h"
#include "processor/LoudnessRounding.h"

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
    truePeakLevels.fill (-70.0f);

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
        const ProcessingGate::ScopedClosure noBlocks (processingGate);
        const std::lock_guard<std::mutex> noStep (loudnessModule.stepLock);

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

        const ProcessingGate::ScopedEntry entry (processingGate);

        if (entry.entered())
            measureBlock (buffer, nowPlaying);
    }

    for (auto channel = getTotalNumInputChannels(); channel < getTotalNumOutputChannels(); ++channel)
        buffer.clear (channel, 0, numSamples);
}

void Kelt5_1liteAudioProcessor::measureBlock (juce::AudioSampleBuffer& buffer, std::int32_t nowPlaying)
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

    const bool offline = isNonRealtime();
    loudnessModule.measuredByAudioThread.store (offline, relaxed);

    if (! offline || loudnessModule.momentaryFifo == nullptr)
    {
        loudnessModule.push (0, numSamples);
    }
    else
    {
        // An offline render may run far faster than the loudness thread, and a
        // full FIFO would drop audio: the block goes in a window at a time and
        // every whole window is measured here, in order, and published as the
        // loudness thread's steps would be. The step lock keeps a step still
        // running on that thread out of the way.
        const auto chunk = juce::jmax (1, loudnessModule.momentaryWindowLength);

        for (int start = 0; start < numSamples; start += chunk)
        {
            loudnessModule.push (start, juce::jmin (chunk, numSamples - start));
            loudnessModule.measureAllWholeWindows ([this] { publishReadings(); });
        }
    }

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

    engineFigures.momentary  = engine.latestMomentary.load (relaxed);
    engineFigures.shortTerm  = engine.latestShortTerm.load (relaxed);
    engineFigures.integrated = engine.latestIntegrated.load (relaxed);
    engineFigures.range      = engine.latestRange.load (relaxed);
    engineFigures.rangeLow   = engine.latestRangeLow.load (relaxed);
    engineFigures.rangeHigh  = engine.latestRangeHigh.load (relaxed);

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
    const ProcessingGate::ScopedClosure noBlocks (processingGate);
    const std::lock_guard<std::mutex> noStep (loudnessModule.stepLock);

    readings.setInitialValues();
    loudnessModule.resetFifos();
    loudnessModule.resetFilters();
    loudnessModule.clearMeasurement();
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

juce::String Kelt5_1liteAudioProcessor::getParameterID (int index)
{
    // LV2 turns the default identifiers "0", "1" and "2" into one port symbol,
    // so its hosts could not tell the parameters apart. Other formats keep
    // the default identifiers their hosts' sessions refer to.
    if (wrapperType == wrapperType_LV2)
    {
        switch (index)
        {
            case 0:  return "hostPlaying";
            case 1:  return "measurementScale";
            case 2:  return "truePeakMaxLevel";
            default: break;
        }
    }

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    return juce::AudioProcessor::getParameterID (index);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

//==============================================================================
int Kelt5_1liteAudioProcessor::getNumPrograms()                             { return 0; }
int Kelt5_1liteAudioProcessor::getCurrentProgram()                          { return 0; }
void Kelt5_1liteAudioProcessor::setCurrentProgram (int)                     {}
const juce::String Kelt5_1liteAudioProcessor::getProgramName (int)          { return {}; }
void Kelt5_1liteAudioProcessor::changeProgramName (int, const juce::String&) {}

//==============================================================================
namespace
{
    /** The framework's binary XML block: magic, text length, text, zero byte. */
    constexpr juce::uint32 settingsMagic = 0x21324356;
    constexpr int settingsHeaderBytes = 8;
    constexpr auto settingsTag = "MYPLUGINSETTINGS";
    constexpr auto scaleAttribute = "measurementScale";

    /** The text this plug-in writes is well under 100 bytes. Anything much
        longer is not ours, and refusing it keeps the XML parser's recursion
        (one level per nested element) and its rescans of the remaining text
        (one per stray ampersand) small enough for any host thread. */
    constexpr int maxSettingsTextBytes = 1024;

    /** %.20g of the value widened to double, with a full stop whatever locale
        the host has set: enough digits to read back the exact float. */
    juce::String formatScale (float scale)
    {
        std::ostringstream out;
        out.imbue (std::locale::classic());
        out.precision (20);
        out << static_cast<double> (scale);
        return juce::String (juce::CharPointer_UTF8 (out.str().c_str()));
    }

    /** Strict UTF-8: no stray or missing continuation bytes, no overlong
        forms, no surrogates, nothing beyond U+10FFFF. */
    bool isWellFormedUtf8 (const char* begin, const char* end)
    {
        for (auto* p = reinterpret_cast<const juce::uint8*> (begin); p < reinterpret_cast<const juce::uint8*> (end);)
        {
            const auto lead = *p++;

            if (lead < 0x80)
                continue;

            int numExtraBytes = 0;
            juce::uint32 smallest = 0;
            juce::uint32 codePoint = 0;

            if ((lead & 0xe0) == 0xc0)      { numExtraBytes = 1; smallest = 0x80;    codePoint = lead & 0x1fu; }
            else if ((lead & 0xf0) == 0xe0) { numExtraBytes = 2; smallest = 0x800;   codePoint = lead & 0x0fu; }
            else if ((lead & 0xf8) == 0xf0) { numExtraBytes = 3; smallest = 0x10000; codePoint = lead & 0x07u; }
            else return false;

            if (reinterpret_cast<const juce::uint8*> (end) - p < numExtraBytes)
                return false;

            for (int i = 0; i < numExtraBytes; ++i, ++p)
            {
                if ((*p & 0xc0) != 0x80)
                    return false;

                codePoint = (codePoint << 6) | (*p & 0x3fu);
            }

            if (codePoint < smallest || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
                return false;
        }

        return true;
    }

    /** Refuses the few kinds of text that JUCE 7's XML parser mishandles. No
        block written by this plug-in is among them. */
    bool isSafeForXmlParser (const juce::String& text)
    {
        // Entities declared in a document type are expanded recursively and
        // without limit: one that refers to itself exhausts the stack.
        if (text.contains ("<!DOCTYPE") && text.containsIgnoreCase ("<!ENTITY"))
            return false;

        // An ampersand right before a tag makes the parser take everything up
        // to the next semicolon as markup of its own, beyond the checks below.
        if (text.contains ("&<"))
            return false;

        // A processing instruction inside an element, followed by text, makes
        // the parser loop forever; only a leading declaration is let through.
        auto afterDeclaration = text.trimStart();

        if (afterDeclaration.startsWith ("<?"))
            afterDeclaration = afterDeclaration.fromFirstOccurrenceOf ("?>", false, false);

        if (afterDeclaration.contains ("<?"))
            return false;

        // A hexadecimal character reference that runs into the end of the text
        // makes the parser step over the terminator and read on.
        const auto withoutHexDigits = text.trimCharactersAtEnd ("0123456789abcdefABCDEF");

        if (text.length() - withoutHexDigits.length() <= 8
             && (withoutHexDigits.endsWith ("&#x") || withoutHexDigits.endsWith ("&#X")))
            return false;

        return true;
    }

    std::unique_ptr<juce::XmlElement> parseSettingsText (const char* begin, const char* end)
    {
        const auto numBytes = static_cast<int> (end - begin);

        // JUCE's strings trust UTF-8 lead bytes when they step through text and
        // assume the shortest form of every character when they copy it, so
        // anything else could carry them past the end of a buffer.
        if (numBytes == 0 || numBytes > maxSettingsTextBytes || ! isWellFormedUtf8 (begin, end))
            return {};

        const juce::String text { juce::CharPointer_UTF8 (begin), juce::CharPointer_UTF8 (end) };

        if (! isSafeForXmlParser (text))
            return {};

        return juce::parseXML (text);
    }

    bool equalsIgnoringAsciiCase (const juce::String& text, const char* ascii)
    {
        const auto upper = [] (juce::juce_wchar c)
        {
            return c >= 'a' && c <= 'z' ? static_cast<juce::juce_wchar> (c - 'a' + 'A') : c;
        };

        auto p = text.getCharPointer();

        // Stops at the first difference, so p never runs past the end.
        for (; *ascii != 0; ++ascii, ++p)
            if (upper (*p) != upper (static_cast<juce::juce_wchar> (*ascii)))
                return false;

        return p.isEmpty();
    }

    /** Reads a number as juce::String::getDoubleValue does. That reader keeps
        the exponent in an int, which ten or more significant exponent digits
        overflow; nine nines already give infinity or zero for any mantissa
        that fits in a settings text, so the result is the same. */
    double readNumber (const juce::String& text)
    {
        auto utf8 = text.toStdString();

        for (size_t i = 0; i < utf8.size(); ++i)
        {
            if (utf8[i] != 'e' && utf8[i] != 'E')
                continue;

            auto first = i + 1;

            if (first < utf8.size() && (utf8[first] == '+' || utf8[first] == '-'))
                ++first;

            while (first < utf8.size() && utf8[first] == '0')
                ++first;

            auto last = first;

            while (last < utf8.size() && utf8[last] >= '0' && utf8[last] <= '9')
                ++last;

            if (last - first > 9)
                utf8.replace (first, last - first, "999999999");
        }

        // Read in place: a character reference beyond Unicode leaves bytes that
        // a juce::String built from this text would misjudge the size of.
        return juce::CharPointer_UTF8 (utf8.c_str()).getDoubleValue();
    }
}

void Kelt5_1liteAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    juce::XmlElement xml (settingsTag);
    xml.setAttribute (scaleAttribute, formatScale (measurementScale.load (relaxed)));

    {
        // Not appending: the stream writes from the start of the block and
        // trims it to what was written when it goes.
        juce::MemoryOutputStream out (destData, false);
        out.writeInt (static_cast<int> (settingsMagic));
        out.writeInt (0);
        xml.writeTo (out, juce::XmlElement::TextFormat().singleLine().withoutHeader());
        out.writeByte (0);
    }

    const auto textLength = juce::ByteOrder::swapIfBigEndian (static_cast<juce::uint32> (destData.getSize())
                                                              - static_cast<juce::uint32> (settingsHeaderBytes + 1));
    destData.copyFrom (&textLength, 4, sizeof (textLength));
}

void Kelt5_1liteAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    // Whatever is not a readable block of ours leaves the scale as it is.
    if (data == nullptr || sizeInBytes < settingsHeaderBytes + 1
         || juce::ByteOrder::littleEndianInt (data) != settingsMagic)
        return;

    const auto declaredLength = static_cast<juce::int32> (juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4)));

    if (declaredLength < 1)
        return;

    // A length beyond the block reads what the block holds; a zero byte ends
    // the text early.
    const auto* text = static_cast<const char*> (data) + settingsHeaderBytes;
    const auto* end = std::find (text, text + std::min (sizeInBytes - settingsHeaderBytes, declaredLength), '\0');

    const auto xml = parseSettingsText (text, end);

    if (xml == nullptr || ! equalsIgnoringAsciiCase (xml->getTagName(), settingsTag)
         || ! xml->hasAttribute (scaleAttribute))
        return;

    // Any number is taken as it is: hosts may hand back any scale they stored.
    measurementScale.store (static_cast<float> (readNumber (xml->getStringAttribute (scaleAttribute))), relaxed);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Kelt5_1liteAudioProcessor();
}
