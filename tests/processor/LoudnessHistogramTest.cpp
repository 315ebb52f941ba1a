#include <gtest/gtest.h>

#include "processor/LoudnessHistogram.h"
#include "processor/LoudnessRounding.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
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

    /** One value in each of numBins bins from -30.0 up. */
    std::unique_ptr<LoudnessHistogram> oneEachFromMinus30 (int numBins)
    {
        auto h = histogramOf ({});

        for (int i = 0; i < numBins; ++i)
            h->add (-30.0f + 0.1f * (float) i);

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
}

TEST (LoudnessHistogram, EdgesOfTheGatesAndRanks)
{
    struct Case { std::unique_ptr<LoudnessHistogram> h; float integrated, range, low, high; };
    constexpr auto any = std::numeric_limits<float>::quiet_NaN();

    const auto mean = [] (std::initializer_list<std::pair<double, int>> counted)
    {
        double energy = 0.0, total = 0.0;

        for (auto [value, times] : counted)
        {
            energy += times * std::pow (10.0, value / 10.0);
            total += times;
        }

        return (float) (10.0 * std::log10 (energy / total));
    };

    Case cases[] = {
        { histogramOf ({}), -70.0f, 0.0f, -70.0f, -70.0f },
        { histogramOf ({ { -23.0f, 1 } }), -23.0f, 0.0f, -23.0f, -23.0f },
        // Mean -22.97, gate -33.0; for the range, -42.97: both count.
        { histogramOf ({ { -20.0f, 10 }, { -40.0f, 10 } }), -20.0f, 20.0f, -40.0f, -20.0f },
        // Mean -20.41, gate -30.4: a block on the gate counts, one a bin lower does not.
        { histogramOf ({ { -20.0f, 9 }, { -30.4f, 1 } }), mean ({ { -20.0, 9 }, { -30.4, 1 } }), 0.0f, -20.0f, -20.0f },
        { histogramOf ({ { -20.0f, 9 }, { -30.5f, 1 } }), -20.0f, 0.0f, -20.0f, -20.0f },
        // Mostly floor: the gate falls below -70 and selects every bin.
        { histogramOf ({ { -65.0f, 1 }, { -70.0f, 100 } }), mean ({ { -65.0, 1 }, { -70.0, 100 } }), 0.0f, -70.0f, -70.0f },
        // Values off the grid are rounded onto it; NaN and values off the scale count as the floor.
        { histogramOf ({ { -23.04f, 3 }, { -22.96f, 3 }, { std::numeric_limits<float>::quiet_NaN(), 3 }, { 0.1f, 3 } }),
          -23.0f, 0.0f, -23.0f, -23.0f },
        { histogramOf ({ { -25.0f, 50 }, { -24.9f, 50 } }), mean ({ { -25.0, 50 }, { -24.9, 50 } }), 0.1f, -25.0f, -24.9f },
        { histogramOf ({ { -25.0f, 10 }, { -24.9f, 90 } }), mean ({ { -25.0, 10 }, { -24.9, 90 } }), 0.0f, -24.9f, -24.9f },
        // One value per bin, so ranks show as bin offsets: of 100 ranks 10 and
        // 95, of 20 ranks 2 and 19, of 5 ranks 0 and 4.
        { oneEachFromMinus30 (100), any, 8.5f, -29.0f, -20.5f },
        { oneEachFromMinus30 (20), any, 1.7f, -29.8f, -28.1f },
        { oneEachFromMinus30 (5), any, 0.4f, -30.0f, -29.6f },
        // Mean -32.9, range gate -52.9: the -60 values are left out.
        { histogramOf ({ { -60.0f, 30 }, { -30.0f, 10 }, { -28.0f, 10 } }), mean ({ { -30.0, 10 }, { -28.0, 10 } }), 2.0f, -30.0f, -28.0f },
    };

    for (size_t i = 0; i < std::size (cases); ++i)
    {
        auto& c = cases[i];

        if (! std::isnan (c.integrated))
        {
            EXPECT_NEAR (c.h->integratedLoudness(), c.integrated, 1.0e-4f) << "case " << i;
        }

        float low = 1.0f, high = 1.0f;
        EXPECT_NEAR (c.h->loudnessRange (low, high), c.range, 1.0e-5f) << "case " << i;
        EXPECT_EQ (low, c.low) << "case " << i;
        EXPECT_EQ (high, c.high) << "case " << i;
    }

    // A bin stops counting at 2^24, where a float stops counting whole values.
    auto full = histogramOf ({ { -23.0f, (1 << 24) + 3 }, { -20.0f, 1 } });
    EXPECT_EQ (full->getCount (full->indexOf (-23.0f)), 16777216.0f);
    EXPECT_NEAR (full->integratedLoudness(), -23.0f, 1.0e-3f);

    full->clear();
    EXPECT_EQ (full->integratedLoudness(), -70.0f);
}
