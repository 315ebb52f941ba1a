#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** One K-weighting biquad stage: a juce::IIRFilter that can drop a state that
    is no longer finite.

    A NaN or infinite input sample leaves the state non-finite, and every later
    sample would then read as not-a-number until the next reset.
*/
class KWeightingFilter final : public juce::IIRFilter
{
public:
    KWeightingFilter() = default;

    /** Zeroes the state if either value is not finite; returns true if it did. */
    bool resetIfNotFinite() noexcept;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KWeightingFilter)
};
