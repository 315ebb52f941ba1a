#include "processor/LoudnessHistogram.h"
#include "processor/MeasurementConstants.h"

#include "processor/LoudnessRounding.h"

#include <cmath>
#include <limits>

namespace
{
    // A float counts whole values exactly up to here; one more would be lost
    // in rounding anyway, so the bin simply stays.
    constexpr float maxCount = 16777216.0f;

    /** Adds a bin's count to a running total, the sum taken in single
        precision like the counts themselves. The clamp only keeps the
        conversion defined once a total passes 2^31 values (years of counting). */
    int addCount (int total, float count) noexcept
    {
        const auto sum = static_cast<float> (total) + count;
        return sum < 2147483648.0f ? static_cast<int> (sum)
                                   : std::numeric_limits<int>::max();
    }

    size_t bin (int index) noexcept
    {
        return static_cast<size_t> (index);
    }
}

void LoudnessHistogram::initialise()
{
    valueToIndex.clear();

    for (int i = 0; i < numBins; ++i)
    {
        values[bin (i)] = round1 (static_cast<float> (i) * 0.1f + loudnessFloor);
        valueToIndex[values[bin (i)]] = i;
        binEnergies[bin (i)] = std::pow (10.0, static_cast<double> (values[bin (i)] / 10.0f));
    }
}

void LoudnessHistogram::clear()
{
    counts.fill (0.0f);
}

int LoudnessHistogram::indexOf (float v) const
{
    // A NaN has no place in the map's ordering; like every other miss it
    // lands in the floor bin.
    if (std::isnan (v))
        return 0;

    const auto found = valueToIndex.find (v);
    return found != valueToIndex.end() ? found->second : 0;
}

void LoudnessHistogram::add (float v)
{
    auto& count = counts[bin (indexOf (round1 (v)))];

    if (count < maxCount)
        count += 1.0f;
}

void LoudnessHistogram::energySum (int firstBin, float& energy, int& total) const
{
    energy = 0.0f;
    total = 0;

    for (int i = firstBin; i < numBins; ++i)
    {
        const auto count = counts[bin (i)];

        // An empty bin changes neither sum: its term is +0, and the total,
        // having come out of a float each time, converts back unchanged.
        if (count == 0.0f)
            continue;

        const auto term = static_cast<double> (count) * binEnergies[bin (i)];

        // The running sum is kept in single precision on purpose.
        energy = static_cast<float> (static_cast<double> (energy) + term);
        total = addCount (total, count);
    }
}

float LoudnessHistogram::integratedLoudness() const
{
    float energy = 0.0f;
    int total = 0;
    energySum (0, energy, total);

    if (total == 0)
        return loudnessFloor;

    const auto mean = 10.0f * std::log10 (energy / static_cast<float> (total));
    const auto gate = indexOf (round1 (mean + (-10.0f)));

    float gatedEnergy = 0.0f;
    int gatedTotal = 0;
    energySum (gate, gatedEnergy, gatedTotal);

    return 10.0f * std::log10 (gatedEnergy / static_cast<float> (gatedTotal));
}

float LoudnessHistogram::loudnessRange (float& low, float& high) const
{
    float energy = 0.0f;
    int total = 0;
    energySum (0, energy, total);

    int lowIndex = 0;
    int highIndex = 0;

    if (total > 0)
    {
        const auto gate = indexOf (round1 (10.0f * std::log10 (energy / static_cast<float> (total))
                                           + (-20.0f)));
        int gatedTotal = 0;
        int lowest = numBins - 1;
        int highest = gate;

        for (int i = gate; i < numBins; ++i)
        {
            gatedTotal = addCount (gatedTotal, counts[bin (i)]);

            if (counts[bin (i)] != 0.0f)
            {
                lowest = juce::jmin (lowest, i);
                highest = juce::jmax (highest, i);
            }
        }

        const auto p10 = static_cast<int> (std::floor (0.1f * static_cast<float> (gatedTotal)));
        const auto p95 = static_cast<int> (std::floor (static_cast<float> (gatedTotal) * 0.95f));

        // c counts the values below bin i, so the last bin reached with
        // c <= rank is the one that holds the value of that rank.
        int c = 0;

        for (int i = lowest; i <= highest; ++i)
        {
            if (c <= p10)
                lowIndex = i;

            if (c <= p95)
                highIndex = i;

            c = addCount (c, counts[bin (i)]);
        }
    }

    low = values[bin (lowIndex)];
    high = values[bin (highIndex)];
    return high - low;
}

float LoudnessHistogram::getValue (int index) const noexcept
{
    jassert (juce::isPositiveAndBelow (index, numBins));
    return values[bin (juce::jlimit (0, numBins - 1, index))];
}

float LoudnessHistogram::getCount (int index) const noexcept
{
    jassert (juce::isPositiveAndBelow (index, numBins));
    return counts[bin (juce::jlimit (0, numBins - 1, index))];
}
