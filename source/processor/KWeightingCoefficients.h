#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** The fixed K-weighting biquads (high-shelf pre-filter, then RLB high-pass)
    for each supported sample rate, stored in single precision.

    Every set is the same analog design discretised at its own rate, so all of
    them give the 48 kHz response at their rate. Rates without a set of their
    own use the 48 kHz set.
*/
class KWeightingCoefficients final
{
public:
    /** H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2). */
    struct Stage
    {
        float b0, b1, b2, a1, a2;
    };

    struct Set
    {
        Stage preFilter;
        Stage rlb;
    };

    /** The set for a rate already truncated to an integer: 44100, 88200,
        96000, 176400 and 192000 have their own sets, anything else gets the
        48 kHz set. */
    static const Set& forRate (int truncatedRate) noexcept;

    /** Truncates the rate toward zero and picks its set. Rates that do not
        fit an int (or are not numbers) get the 48 kHz set. */
    static const Set& forSampleRate (double sampleRate) noexcept;

    /** The stage as juce::IIRCoefficients holding exactly the stage's floats. */
    static juce::IIRCoefficients toIIRCoefficients (const Stage& stage) noexcept;

    KWeightingCoefficients() = delete;
};
