#include <gtest/gtest.h>

#include "processor/LoudnessHistogram.h"
#include "processor/LoudnessRounding.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace
{
    struct Counted { float value; int times; };

    std::unique_ptr<LoudnessHistogram> histogramOf (std::initializer_list<Counted> counted)
    {
        auto h = std::make_unique<LoudnessHistogram>();
        h->initialise();
        h->clear();

        for (auto c : counted)
            for (int i = 0; i < c.times; ++i)
                h->add (c.value);

        return h;
    }

    std::unique_ptr<LoudnessHistogram> histogramOfBins (int firstBin, int numBins)
    {
        auto h = histogramOf ({});
        for (int i = firstBin; i < firstBin + numBins; ++i)
            h->add (h->getValue (i));
        return h;
    }

    // Plain double-precision versions of both measures over the list of values.
    double energyMean (const std::vector<double>& values)
    {
        double sum = 0.0;
        for (auto v : values)
            sum += std::pow (10.0, v / 10.0);
        return 10.0 * std::log10 (sum / static_cast<double> (values.size()));
    }

    std::vector<double> gatedAbove (std::vector<double> values, double threshold)
    {
        values.erase (std::remove_if (values.begin(), values.end(), [=] (double v) { return v <= threshold; }),
                      values.end());
        return values;
    }
}

TEST (LoudnessHistogram, BinsHoldTenthsFromMinus70To0)
{
    EXPECT_EQ (round1 (-23.25f), -23.2f);   // halves go up
    EXPECT_EQ (round1 (23.25f), 23.3f);

    auto h = histogramOf ({});
    EXPECT_EQ (h->getValue (230), -47.0f);

    for (int i = 0; i < LoudnessHistogram::numBins; ++i)
    {
        ASSERT_EQ (h->getValue (i), static_cast<float> (i - 700) / 10.0f) << i;
        ASSERT_EQ (h->indexOf (h->getValue (i)), i) << i;
    }

    for (auto miss : { -23.04f, -70.1f, 0.1f, std::numeric_limits<float>::quiet_NaN() })
        EXPECT_EQ (h->indexOf (miss), 0) << miss;

    h->add (-23.04f);
    h->add (-70.0f);
    h->add (std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ (h->getCount (470), 1.0f);
    EXPECT_EQ (h->getCount (0), 2.0f);

    h->clear();
    EXPECT_EQ (h->getCount (470), 0.0f);
    EXPECT_EQ (h->indexOf (-23.0f), 470);
}

TEST (LoudnessHistogram, IntegratedLoudnessGatesTenLuBelowTheMeanOfAll)
{
    EXPECT_EQ (histogramOf ({})->integratedLoudness(), -70.0f);
    EXPECT_NEAR (histogramOf ({ { -23.0f, 1 } })->integratedLoudness(), -23.0f, 1.0e-4f);

    // Mean -22.97, gate -33.0.
    EXPECT_NEAR (histogramOf ({ { -20.0f, 10 }, { -40.0f, 10 } })->integratedLoudness(), -20.0f, 1.0e-4f);

    // Floor blocks pull the mean to -26.01 and the gate to -36.0, and are gated out.
    EXPECT_NEAR (histogramOf ({ { -23.0f, 10 }, { -70.0f, 10 } })->integratedLoudness(), -23.0f, 1.0e-4f);

    // Mean -20.41, gate -30.4: a block on the gate counts, one a bin lower does not.
    EXPECT_NEAR (histogramOf ({ { -20.0f, 9 }, { -30.4f, 1 } })->integratedLoudness(),
                 10.0 * std::log10 ((9.0e-2 + std::pow (10.0, -3.04)) / 10.0), 1.0e-3);
    EXPECT_NEAR (histogramOf ({ { -20.0f, 9 }, { -30.5f, 1 } })->integratedLoudness(), -20.0f, 1.0e-4f);

    // Mostly floor: the gate falls below -70 and selects every bin.
    EXPECT_NEAR (histogramOf ({ { -65.0f, 1 }, { -70.0f, 100 } })->integratedLoudness(),
                 10.0 * std::log10 ((std::pow (10.0, -6.5) + 100.0e-7) / 101.0), 1.0e-3);
}

TEST (LoudnessHistogram, RangeSpansTheTenthToTheNinetyFifthPercentileAboveItsGate)
{
    struct Case { std::unique_ptr<LoudnessHistogram> h; float range, low, high; };

    Case cases[] = {
        { histogramOf ({}), 0.0f, -70.0f, -70.0f },
        { histogramOf ({ { -23.0f, 1 } }), 0.0f, -23.0f, -23.0f },
        { histogramOf ({ { -25.0f, 50 }, { -24.9f, 50 } }), 0.10000038f, -25.0f, -24.9f },
        { histogramOf ({ { -25.0f, 10 }, { -24.9f, 90 } }), 0.0f, -24.9f, -24.9f },
        { histogramOfBins (400, 100), 8.5f, -29.0f, -20.5f },   // -30.0 .. -20.1
        // One value per bin, so ranks show as bin offsets: of 20 values ranks
        // 2 and 19, of 5 ranks 0 and 4, of 1 rank 0 twice.
        { histogramOfBins (400, 20), 1.7f, -29.8f, -28.1f },
        { histogramOfBins (400, 5), 0.4f, -30.0f, -29.6f },
        { histogramOfBins (400, 1), 0.0f, -30.0f, -30.0f },
        // Mean -32.9, gate -52.9: the -60 values are left out.
        { histogramOf ({ { -60.0f, 30 }, { -30.0f, 10 }, { -28.0f, 10 } }), 2.0f, -30.0f, -28.0f },
    };

    for (size_t i = 0; i < std::size (cases); ++i)
    {
        float low = 1.0f, high = 1.0f;
        EXPECT_NEAR (cases[i].h->loudnessRange (low, high), cases[i].range, 1.0e-5f) << "case " << i;
        EXPECT_EQ (low, cases[i].low) << "case " << i;
        EXPECT_EQ (high, cases[i].high) << "case " << i;
    }

    float low = 0.0f, high = 0.0f;
    EXPECT_EQ (cases[2].h->loudnessRange (low, high), 0.10000038f);
}

TEST (LoudnessHistogram, BinCountsStopAtTwoToThe24th)
{
    auto h = histogramOf ({ { -23.0f, (1 << 24) + 3 }, { -20.0f, 1 } });

    EXPECT_EQ (h->getCount (470), 16777216.0f);
    EXPECT_EQ (h->getCount (500), 1.0f);
    EXPECT_NEAR (h->integratedLoudness(), -23.0f, 1.0e-3f);
}

TEST (LoudnessHistogram, AgreesWithADoublePrecisionReference)
{
    // Shaped like real programmes (broadcast mix, loud music, speech with
    // quiet passages), so the gates fall in sparse tails where the meter's
    // 0.1 LU gate steps matter little.
    std::mt19937 rng (20240613);
    std::normal_distribution<float> programme (-23.0f, 5.0f), loud (-11.0f, 3.0f), quiet (-52.0f, 6.0f);
    std::uniform_int_distribution<int> lengths (1000, 6000), percent (0, 99);

    for (int trial = 0; trial < 30; ++trial)
    {
        auto h = histogramOf ({});
        std::vector<double> values;

        for (int i = lengths (rng); --i >= 0;)
        {
            const auto raw = trial % 3 == 0 ? programme (rng)
                           : trial % 3 == 1 ? loud (rng)
                                            : (percent (rng) < 30 ? quiet (rng) : programme (rng));
            const auto v = juce::jlimit (-69.9f, 0.0f, round1 (raw));
            h->add (v);
            values.push_back (static_cast<double> (v));
        }

        // BS.1770: absolute gate at -70, relative gate 10 LU below.
        const auto blocks = gatedAbove (values, -70.0);
        EXPECT_NEAR (h->integratedLoudness(), energyMean (gatedAbove (blocks, energyMean (blocks) - 10.0)), 0.05)
            << "trial " << trial;

        // Tech 3342: relative gate 20 LU below, nearest-rank percentiles.
        auto gated = gatedAbove (blocks, energyMean (blocks) - 20.0);
        std::sort (gated.begin(), gated.end());

        float low = 0.0f, high = 0.0f;
        const auto range = h->loudnessRange (low, high);
        EXPECT_NEAR (low, gated[gated.size() / 10], 0.1001) << "trial " << trial;
        EXPECT_NEAR (high, gated[gated.size() * 19 / 20], 0.1001) << "trial " << trial;
        EXPECT_EQ (range, high - low);
    }
}
