#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <map>

/** Keeps a whole measurement's loudness values in 0.1 LU bins from -70.0 to
    0.0 LUFS, and derives from them the gated integrated loudness and the
    loudness range.

    Memory and the cost of a result are fixed however long the measurement
    runs. Nothing allocates after initialise(). The class takes no locks; its
    owner keeps clear() apart from a running measurement step.
*/
class LoudnessHistogram final
{
public:
    static constexpr int numBins = 701;

    LoudnessHistogram() = default;

    /** Fills the bin values and their lookup table. Call once before use. */
    void initialise();

    /** Sets every count to zero; the bins stay. */
    void clear();

    /** The bin whose value equals v exactly, or 0 when there is none. */
    int indexOf (float v) const;

    /** Counts one value in the bin of its 0.1 LU rounding. */
    void add (float v);

    /** Energy mean of the blocks at or above the relative gate, 10 LU below
        the mean of all blocks; -70 when nothing was counted. */
    float integratedLoudness() const;

    /** Spread between the 10th and 95th percentile of the values at or above
        the relative gate, 20 LU below their energy mean. Also gives the
        loudness at both ends; 0 with both ends at -70 when empty. */
    float loudnessRange (float& low, float& high) const;

    float getValue (int index) const noexcept;
    float getCount (int index) const noexcept;

private:
    /** Energy sum and count of the bins from firstBin up. */
    void energySum (int firstBin, float& energy, int& total) const;

    std::array<float, numBins> counts {};
    std::array<float, numBins> values {};
    std::map<float, int> valueToIndex;
    /** pow (10, values[i] / 10) of each bin, worked out once. */
    std::array<double, numBins> binEnergies {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LoudnessHistogram)
};
