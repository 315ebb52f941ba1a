#include <gtest/gtest.h>

#include "processor/LoudnessHistogram.h"
#include "processor/LoudnessRounding.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

namespace
{
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
    // Broadcast mixes and speech with quiet passages: BS.1770's relative gate
    // 10 LU below the mean, and Tech 3342's 20 LU below it with nearest-rank
    // percentiles, in double precision.
    std::mt19937 rng (20240613);
    std::normal_distribution<float> programme (-23.0f, 5.0f), quiet (-52.0f, 6.0f);
    std::uniform_int_distribution<int> lengths (1000, 6000), percent (0, 99);
    auto h = std::make_unique<LoudnessHistogram>();
    h->initialise();

    for (int trial = 0; trial < 20; ++trial)
    {
        h->clear();
        std::vector<double> values;

        for (int i = lengths (rng); --i >= 0;)
        {
            const auto v = juce::jlimit (-70.0f, 0.0f, round1 (trial % 2 == 1 && percent (rng) < 30 ? quiet (rng) : programme (rng)));
            h->add (v);
            values.push_back ((double) v);
        }

        EXPECT_NEAR (h->integratedLoudness(), energyMean (above (values, energyMean (values) - 10.0)), 0.05) << trial;

        auto gated = above (values, energyMean (values) - 20.0);
        std::sort (gated.begin(), gated.end());
        float low = 0.0f, high = 0.0f;
        const auto range = h->loudnessRange (low, high);
        EXPECT_EQ (range, high - low);
        EXPECT_NEAR (low, gated[gated.size() / 10], 0.1001) << trial;
        EXPECT_NEAR (high, gated[gated.size() * 19 / 20], 0.1001) << trial;
    }

    // Empty, and a bin that stops counting at 2^24, where a float stops counting whole values.
    float low = 1.0f, high = 1.0f;
    h->clear();
    EXPECT_EQ (std::tuple (h->integratedLoudness(), h->loudnessRange (low, high), low, high), std::tuple (-70.0f, 0.0f, -70.0f, -70.0f));

    for (int i = 0; i < (1 << 24) + 3; ++i)
        h->add (-23.0f);

    h->add (-20.0f);
    EXPECT_EQ (h->getCount (h->indexOf (-23.0f)), 16777216.0f);
    EXPECT_NEAR (h->integratedLoudness(), -23.0f, 1.0e-3f);
}
