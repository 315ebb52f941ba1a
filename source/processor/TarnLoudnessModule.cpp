#include "processor/TarnLoudnessModule.h"
#include "processor/MeasurementConstants.h"

#include "processor/KWeightingCoefficients.h"
#include "processor/LoudnessRounding.h"

#include <cmath>

namespace
{
    // Rates outside this span get no loudness measurement: below it a 400 ms
    // window is too short to move on by a single sample, so a step would read
    // the same window for ever; above it the FIFOs would need gigabytes.
    constexpr double lowestMeasuredRate = 10.0;
    constexpr double highestMeasuredRate = 768000.0;

    constexpr float surroundWeight = 1.41f;

    constexpr std::array<float, TarnLoudnessModule::maxChannels> weightsByIndex { 1.0f, 1.0f, 1.0f, 0.0f, surroundWeight, surroundWeight };

    /** BS.1770: LFE takes no part; channels beside and just behind the
        listener (60 to 120 degrees off centre, not raised) weigh 1.41; every
        other named channel weighs 1. A channel the layout does not name (a
        discrete layout, or beyond the layout) keeps the weight of its place
        in the order L, R, C, LFE, Ls, Rs. */
    float weightOf (const juce::AudioChannelSet& layout, int channel) noexcept
    {
        using Set = juce::AudioChannelSet;

        const auto type = channel < layout.size() ? layout.getTypeOfChannel (channel) : Set::unknown;

        switch (type)
        {
            case Set::LFE:
            case Set::LFE2:
                return 0.0f;

            case Set::leftSurround:
            case Set::rightSurround:
            case Set::leftSurroundSide:
            case Set::rightSurroundSide:
            case Set::wideLeft:
            case Set::wideRight:
                return surroundWeight;

            default:
                break;
        }

        const bool named = type != Set::unknown && type < Set::discreteChannel0;
        return named ? 1.0f : weightsByIndex[(size_t) channel];
    }
}

TarnLoudnessModule::TarnLoudnessModule()
{
    integratedHistogram.initialise();
    integratedHistogram.clear();
    rangeHistogram.initialise();
    rangeHistogram.clear();
}

TarnLoudnessModule::~TarnLoudnessModule() = default;

int TarnLoudnessModule::useTimeSlice()
{
    if (! measuredByAudioThread.load (relaxed))
        updateLoudness();

    return 50;
}

void TarnLoudnessModule::setChannelLayout (const juce::AudioChannelSet& layout) noexcept
{
    for (int c = 0; c < maxChannels; ++c)
        channelWeights[(size_t) c].store (weightOf (layout, c), relaxed);
}

float TarnLoudnessModule::getChannelWeight (int channel) const noexcept
{
    return juce::isPositiveAndBelow (channel, maxChannels) ? channelWeights[(size_t) channel].load (relaxed) : 0.0f;
}

bool TarnLoudnessModule::hasWholeWindow()
{
    return (momentaryFifo != nullptr && momentaryFifo->getNumReady() >= momentaryWindowLength)
        || (shortTermFifo != nullptr && shortTermFifo->getNumReady() >= shortTermWindowLength);
}

//==============================================================================
void TarnLoudnessModule::prepare (double sampleRate, int blockSize)
{
    if (! (sampleRate >= lowestMeasuredRate && sampleRate <= highestMeasuredRate))
    {
        // Filters, windows and FIFOs set up for an earlier rate would go on
        // measuring at this one. Without FIFOs no window becomes ready, so the
        // figures stay as they are until a measurable rate comes.
        preparedSampleRate = 0.0;
        momentaryWindowLength = 0;
        shortTermWindowLength = 0;
        momentaryFifo.reset();
        shortTermFifo.reset();
        momentaryWindowBuffer.reset();
        shortTermWindowBuffer.reset();
    }
    else if (sampleRate != preparedSampleRate)
    {
        preparedSampleRate = sampleRate;

        const auto& set = KWeightingCoefficients::forSampleRate (sampleRate);

        for (size_t i = 0; i < (size_t) maxChannels; ++i)
        {
            preFilters[i].setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.preFilter));
            rlbFilters[i].setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.rlb));
        }

        const auto rate = static_cast<float> (sampleRate);
        momentaryWindowLength = static_cast<int> (std::floor (rate * 0.4f));
        shortTermWindowLength = static_cast<int> (std::floor (rate * 3.0f));

        momentaryFifo.reset();
        shortTermFifo.reset();
        momentaryFifo = std::make_unique<OverlapFifo> (4 * momentaryWindowLength, 0.75f);
        shortTermFifo = std::make_unique<OverlapFifo> (4 * shortTermWindowLength, 0.8f);

        momentaryWindowBuffer.reset();
        shortTermWindowBuffer.reset();
        momentaryWindowBuffer = std::make_unique<juce::AudioSampleBuffer> (maxChannels, momentaryWindowLength);
        shortTermWindowBuffer = std::make_unique<juce::AudioSampleBuffer> (maxChannels, shortTermWindowLength);
    }

    blockBuffer.setSize (maxChannels, juce::jmax (0, blockSize));
    blockBufferChannels.store (maxChannels, relaxed);
}

void TarnLoudnessModule::resetFilters() noexcept
{
    for (int i = 0; i < maxChannels; ++i)
    {
        preFilters[(size_t) i].reset();
        rlbFilters[(size_t) i].reset();
    }
}

void TarnLoudnessModule::resetFifos() noexcept
{
    if (momentaryFifo != nullptr)
        momentaryFifo->reset();

    if (shortTermFifo != nullptr)
        shortTermFifo->reset();
}

void TarnLoudnessModule::clearMeasurement() noexcept
{
    integratedHistogram.clear();
    rangeHistogram.clear();

    latestMomentary.store (loudnessFloor, relaxed);
    latestShortTerm.store (loudnessFloor, relaxed);
    latestIntegrated.store (loudnessFloor, relaxed);
    latestRange.store (loudnessFloor, relaxed);
    latestRangeLow.store (loudnessFloor, relaxed);
    latestRangeHigh.store (loudnessFloor, relaxed);
}

//==============================================================================
void TarnLoudnessModule::weight (const juce::AudioSampleBuffer& block)
{
    const auto numChannels = block.getNumChannels();
    const auto numSamples = block.getNumSamples();

    // Keeps its storage when the block shrinks, so only a larger block or more
    // channels than before allocate.
    blockBuffer.setSize (numChannels, numSamples, false, false, true);

    // The filters read the block and write the weighted copy in one pass.
    const auto numWeighted = juce::jmin (maxChannels, numChannels);
    KWeightingFilter::processCascade (preFilters.data(), rlbFilters.data(),
                                      block.getArrayOfReadPointers(), blockBuffer.getArrayOfWritePointers(),
                                      numWeighted, numSamples);

    for (int c = numWeighted; c < numChannels; ++c)
        blockBuffer.copyFrom (c, 0, block, c, 0, numSamples);

    blockBufferChannels.store (numChannels, relaxed);

    // A bad sample reads as not-a-number in its own window only; the next
    // block starts from a clean state.
    for (int c = 0; c < numWeighted; ++c)
    {
        preFilters[(size_t) c].resetIfNotFinite();
        rlbFilters[(size_t) c].resetIfNotFinite();
    }
}

void TarnLoudnessModule::push (int startSample, int numSamples)
{
    if (startSample == 0 && numSamples == blockBuffer.getNumSamples())
    {
        if (momentaryFifo != nullptr)
            momentaryFifo->write (blockBuffer);

        if (shortTermFifo != nullptr)
            shortTermFifo->write (blockBuffer);

        return;
    }

    // A view of part of the block; JUCE keeps the pointers of up to 32
    // channels inside the buffer object, so this does not allocate.
    const juce::AudioSampleBuffer part (blockBuffer.getArrayOfWritePointers(),
                                        juce::jmin (blockBuffer.getNumChannels(), maxChannels),
                                        startSample, numSamples);

    if (momentaryFifo != nullptr)
        momentaryFifo->write (part);

    if (shortTermFifo != nullptr)
        shortTermFifo->write (part);
}

//==============================================================================
float TarnLoudnessModule::blockLoudness (float power) noexcept
{
    auto loudness = 10.0f * std::log10 (power) + (-0.691f);

    // Written so that a not-a-number power stays not-a-number.
    if (loudness < loudnessFloor)
        loudness = loudnessFloor;

    if (loudness > 0.0f)
        return 0.0f;

    return round1 (loudness);
}

float TarnLoudnessModule::weightedPower (const ChannelSquareSums& squareSums, int length) const noexcept
{
    float sum = 0.0f;

    for (int c = 0; c < squareSums.getNumChannels(); ++c)
    {
        const auto rms = squareSums.getRMSLevel (c, length);
        sum += rms * rms * channelWeights[(size_t) c].load (relaxed);
    }

    return sum;
}

void TarnLoudnessModule::updateLoudness()
{
    const std::lock_guard<std::mutex> lock (stepLock);
    runStep();
}

void TarnLoudnessModule::runStep()
{
    newMomentaryAvailable.store (false, relaxed);
    newShortTermAvailable.store (false, relaxed);

    const auto channels = juce::jmin (blockBufferChannels.load (relaxed), maxChannels);

    if (momentaryFifo != nullptr && momentaryFifo->getNumReady() >= momentaryWindowLength)
    {
        newMomentaryAvailable.store (true, relaxed);

        // readWindow leaves nothing of the previous window behind, so the
        // buffer is not cleared first; the squares are summed as it copies.
        ChannelSquareSums squareSums (channels);

        // A window that met a FIFO reset is dropped: its samples are stale.
        if (momentaryFifo->readWindow (*momentaryWindowBuffer, momentaryWindowLength, &squareSums))
        {
            const auto loudness = blockLoudness (weightedPower (squareSums, momentaryWindowLength));
            latestMomentary.store (loudness, relaxed);

            if (playing.load (relaxed) != 0)
            {
                integratedHistogram.add (loudness);
                latestIntegrated.store (integratedHistogram.integratedLoudness(), relaxed);
            }
        }
    }

    if (shortTermFifo != nullptr && shortTermFifo->getNumReady() >= shortTermWindowLength)
    {
        newShortTermAvailable.store (true, relaxed);

        ChannelSquareSums squareSums (channels);

        if (shortTermFifo->readWindow (*shortTermWindowBuffer, shortTermWindowLength, &squareSums))
        {
            const auto loudness = blockLoudness (weightedPower (squareSums, shortTermWindowLength));
            latestShortTerm.store (loudness, relaxed);

            if (playing.load (relaxed) != 0)
            {
                rangeHistogram.add (loudness);
                float low = 0.0f, high = 0.0f;
                const auto range = rangeHistogram.loudnessRange (low, high);
                latestRange.store (range, relaxed);
                latestRangeLow.store (low, relaxed);
                latestRangeHigh.store (high, relaxed);
            }
        }
    }
}
