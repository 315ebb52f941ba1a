#pragma once

#include "processor/MeasurementConstants.h"

#include <array>

/** Each channel's sum of squared samples over a window, gathered while the
    window is copied, so that the samples pass through the cache once.

    The sums are formed as juce::AudioBuffer::getRMSLevel forms its sum: each
    sample squared in single precision and added to a double, in sample
    order; getRMSLevel() here therefore gives bit for bit what getRMSLevel
    on the copied window gives. Where the processor has AVX2 the channels run
    side by side in vector lanes, each lane keeping its channel's order.
*/
class ChannelSquareSums final
{
public:
    static constexpr int maxChannels = numChannelPositions;

    /** Sums for the first numChannels channels (at most six), all zero. */
    explicit ChannelSquareSums (int numChannels) noexcept;

    int getNumChannels() const noexcept { return numSummed; }

    /** Copies numSamples samples of each of numChannels channels from source
        to destination and adds the squares of the summed channels to their
        sums. Successive calls carry on where the last one stopped, so a
        window copied in two pieces sums as one. */
    void copyAndAdd (const float* const* source, float* const* destination,
                     int numChannels, int numSamples) noexcept;

    double getSum (int channel) const noexcept;

    /** The RMS level of a channel over a window of length samples whose
        samples beyond those copied are zero, as getRMSLevel computes it. */
    float getRMSLevel (int channel, int length) const noexcept;

private:
    int numSummed;
    std::array<double, maxChannels> sums {};
};
