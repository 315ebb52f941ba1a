#include <gtest/gtest.h>

#include "processor/LoudnessHistogram.h"
#include "processor/LoudnessRounding.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace
{
    std::unique_ptr<LoudnessHistogram> histogramOf (const std::vector<std::pair<float, int>>& counted)
    {
        auto h = std::make_unique<LoudnessHistogram>();
        h->initialise();
        h->clear();

        for (auto [value, times] : counted)
            for (int i = 0; i < times; ++i)
                h->add (value);

        return h;
    }

    double energyMean (const std::vector<double>& values)
    {
        double sum = 0.0;

        for (auto v : values)
            sum += std::pow (10.0, v / 10.0);

        return 10.0 * std::log10 (sum / (double) values.size());
    }

    std::vector<double> above (std::vector<double> values, double gate)
    {
        values.erase (std::remove_if (values.begin(), values.end(), [=] (double v) { return v < gate; }), values.end());
        return values;
    }
}

TEST (LoudnessHistogram, GatesAndPercentilesAsTheStandardsDefineThem)
{
    // Shaped like real programmes (broadcast mix, loud music, speech with
    // quiet passages): BS.1770's relative gate 10 LU below the mean, and Tech
    // 3342's 20 LU below it with nearest-rank percentiles, in double precision.
    std::mt19937 rng (20240613);
    std::normal_distribution<float> programme (-23.0f, 5.0f), loud (-11.0f, 3.0f), quiet (-52.0f, 6.0f);
    std::uniform_int_distribution<int> lengths (1000, 6000), percent (0, 99);

    for (int trial = 0; trial < 30; ++trial)
    {
        auto h = histogramOf ({});
        std::vector<double> values;

        for (int i = lengths (rng); --i >= 0;)
        {
            const auto raw = trial % 3 == 0 ? programme (rng) : trial % 3 == 1 ? loud (rng)
                                                                               : (percent (rng) < 30 ? quiet (rng) : programme (rng));
            const auto v = juce::jlimit (-70.0f, 0.0f, round1 (raw));
            h->add (v);
            values.push_back ((double) v);
        }

        EXPECT_NEAR (h->integratedLoudness(), energyMean (above (values, energyMean (values) - 10.0)), 0.05) << trial;

        auto gated = above (values, energyMean (values) - 20.0);
        std::sort (gated.begin(), gated.end());
        float low = 0.0f, high = 0.0f;
        const auto range = h->loudnessRange (low, high);
        EXPECT_NEAR (low, gated[gated.size() / 10], 0.1001) << trial;
        EXPECT_NEAR (high, gated[gated.size() * 19 / 20], 0.1001) << trial;
        EXPECT_EQ (range, high - low);
    }

    // One value per bin, so the nearest ranks show as bins: of 5 values ranks
    // 0 and 4, of 20 ranks 2 and 19, of 100 ranks 10 and 95.
    for (auto [numValues, lowest, highest] : std::initializer_list<std::tuple<int, float, float>> {
             { 5, -30.0f, -29.6f }, { 20, -29.8f, -28.1f }, { 100, -29.0f, -20.5f } })
    {
        auto ranks = histogramOf ({});

        for (int i = 0; i < numValues; ++i)
            ranks->add (-30.0f + 0.1f * (float) i);

        float low = 0.0f, high = 0.0f;
        ranks->loudnessRange (low, high);
        EXPECT_EQ (std::pair (low, high), std::pair (lowest, highest)) << numValues << " values";
    }

    // Empty, and a bin that stops counting at 2^24, where a float stops counting whole values.
    auto h = histogramOf ({});
    float low = 1.0f, high = 1.0f;
    EXPECT_EQ (std::tuple (h->integratedLoudness(), h->loudnessRange (low, high), low, high), std::tuple (-70.0f, 0.0f, -70.0f, -70.0f));
    h = histogramOf ({ { -23.0f, (1 << 24) + 3 }, { -20.0f, 1 } });
    EXPECT_EQ (h->getCount (h->indexOf (-23.0f)), 16777216.0f);
    EXPECT_NEAR (h->integratedLoudness(), -23.0f, 1.0e-3f);
}
