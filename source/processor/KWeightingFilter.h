#pragma once

#include "processor/MeasurementConstants.h"

#include <juce_audio_basics/juce_audio_basics.h>

/** One K-weighting biquad stage: a juce::IIRFilter that can drop a state that
    is no longer finite, and that runs together with the other channels'
    stages for speed.

    A NaN or infinite input sample leaves the state non-finite, and every later
    sample would then read as not-a-number until the next reset.
*/
class KWeightingFilter final : public juce::IIRFilter
{
public:
    static constexpr int maxCascadeChannels = numChannelPositions;

    KWeightingFilter() = default;

    /** Zeroes the state if either value is not finite; returns true if it did. */
    bool resetIfNotFinite() noexcept;

    /** For each channel c below numChannels (at most six), runs preFilters[c]
        and then rlbFilters[c] over numSamples samples, from input[c] to
        output[c]; input and output may be the same memory.

        The channels run side by side, one vector lane each: each recurrence
        waits on its previous sample, so twelve filters one after another
        would spend most of their time waiting. Samples and filter states come
        out bit for bit as from processSamples of the pre-filter and then of
        the RLB filter, channel by channel. Every filter's lock is held for the
        whole block. While any of the filters is inactive, each filter runs
        through processSamples on its own instead.
    */
    static void processCascade (KWeightingFilter* preFilters, KWeightingFilter* rlbFilters,
                                const float* const* input, float* const* output,
                                int numChannels, int numSamples) noexcept;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KWeightingFilter)
};
