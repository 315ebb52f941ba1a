#pragma once

#include "processor/MeasurementConstants.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <vector>

/** Estimates the true peak of each of the six channel positions, block by
    block: the largest absolute value between and at the samples, in dBTP.

    At 44.1 and 48 kHz it interpolates three extra points per sample with the
    48-tap, four-phase filter of ITU-R BS.1770-4 Annex 2; at 88.2 and 96 kHz it
    uses two of the phases (1 and 3); at 176.4 and 192 kHz it reads the plain
    sample peak. A rate outside these keeps the mode chosen before it.

    prepare() runs off the audio thread; process() is real-time safe as long
    as blocks are no longer than the last announced or seen block length.
*/
class TruePeakDetector final
{
public:
    static constexpr int numChannels = numChannelPositions;
    static constexpr int numTaps = 12;
    static constexpr int maxPhases = 4;

    TruePeakDetector();
    ~TruePeakDetector();

    /** Picks the mode for the rate and sizes the buffers for blocks of up to
        blockSize samples. The filter history is kept. */
    void prepare (double sampleRate, int blockSize);

    /** Measures one block. Channels beyond the sixth are ignored; missing
        channels count as silence. Each level is 20 log10 of the channel's
        largest true-peak value in the block, minus infinity for silence.
        A block without samples leaves the levels as they were. */
    void process (const juce::AudioSampleBuffer& input, std::array<float, numChannels>& levels);

private:
    void ensureScratchCapacity (int numSamples);
    void interpolateChannel (int channel, const float* samples, int numSamples, float* peaks) noexcept;

    double sampleRate = 0.0;

    /** Per channel, the last twelve input samples, newest first. Fixed storage
        so that the audio thread never allocates for it. */
    std::array<std::array<double, numTaps>, numChannels> delayLines {};

    /** Filter rows of the current mode; only the first numPhases are read. */
    double interpolationTable[maxPhases][numTaps] {};

    /** Each sample's true-peak value of the current block. */
    juce::AudioSampleBuffer workBuffer;

    /** Interpolation phases per input sample: 4, 2, or 0 for sample peak. */
    int numPhases = 0;

    /** Scratch for one channel at a time: the eleven samples before the
        block followed by the block, in double. It only ever grows. */
    std::vector<double> extendedInput;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TruePeakDetector)
};
