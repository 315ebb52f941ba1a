#include <gtest/gtest.h>

#include "processor/LoudnessHistogram.h"
#include "processor/LoudnessRounding.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
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

namespace
{
    /** Both results computed straight from the counts, one pow per bin and
        every bin visited, as the measurement is defined. */
    struct LiteralHistogram
    {
        explicit LiteralHistogram (const LoudnessHistogram& h)
        {
            for (int i = 0; i < LoudnessHistogram::numBins; ++i)
            {
                counts[(size_t) i] = h.getCount (i);
                values[(size_t) i] = h.getValue (i);
            }
        }

        int indexOf (float v) const
        {
            for (int i = 0; i < LoudnessHistogram::numBins; ++i)
                if (values[(size_t) i] == v)
                    return i;
            return 0;
        }

        void energySum (int first, float& energy, int& total) const
        {
            energy = 0.0f;
            total = 0;

            for (int i = first; i < LoudnessHistogram::numBins; ++i)
            {
                const auto term = (double) counts[(size_t) i] * std::pow (10.0, (double) (values[(size_t) i] / 10.0f));
                energy = (float) ((double) energy + term);
                total = (int) ((float) total + counts[(size_t) i]);
            }
        }

        float integrated() const
        {
            float e = 0.0f, eg = 0.0f;
            int n = 0, g = 0;
            energySum (0, e, n);

            if (n == 0)
                return -70.0f;

            energySum (indexOf (round1 (10.0f * std::log10 (e / (float) n) + (-10.0f))), eg, g);
            return 10.0f * std::log10 (eg / (float) g);
        }

        float range (float& low, float& high) const
        {
            float e = 0.0f;
            int n = 0, lowIndex = 0, highIndex = 0;
            energySum (0, e, n);

            if (n > 0)
            {
                const auto j = indexOf (round1 (10.0f * std::log10 (e / (float) n) + (-20.0f)));
                int g = 0, lo = 700, hi = j;

                for (int i = j; i <= 700; ++i)
                {
                    g = (int) ((float) g + counts[(size_t) i]);
                    if (counts[(size_t) i] != 0.0f)
                    {
                        lo = std::min (lo, i);
                        hi = std::max (hi, i);
                    }
                }

                const auto p10 = (int) std::floor (0.1f * (float) g), p95 = (int) std::floor ((float) g * 0.95f);

                for (int i = lo, c = 0; i <= hi; ++i)
                {
                    if (c <= p10) lowIndex = i;
                    if (c <= p95) highIndex = i;
                    c = (int) ((float) c + counts[(size_t) i]);
                }
            }

            low = values[(size_t) lowIndex];
            high = values[(size_t) highIndex];
            return high - low;
        }

        std::array<float, LoudnessHistogram::numBins> counts {}, values {};
    };

    ::testing::AssertionResult sameResults (const LoudnessHistogram& h)
    {
        const LiteralHistogram literal (h);
        float low = 0.0f, high = 0.0f, literalLow = 0.0f, literalHigh = 0.0f;
        const float got[] = { h.integratedLoudness(), h.loudnessRange (low, high), low, high };
        const float expected[] = { literal.integrated(), literal.range (literalLow, literalHigh), literalLow, literalHigh };

        if (std::memcmp (got, expected, sizeof (got)) == 0)
            return ::testing::AssertionSuccess();

        return ::testing::AssertionFailure() << "integrated " << got[0] << " / " << expected[0]
                                             << ", range " << got[1] << " / " << expected[1]
                                             << ", low " << got[2] << " / " << expected[2]
                                             << ", high " << got[3] << " / " << expected[3];
    }
}

TEST (LoudnessHistogram, ResultsAreTheLiteralComputationsBitForBit)
{
    // Empty, sparse and dense histograms, and totals beyond 2^24, which the
    // running total only reaches rounded to single precision.
    EXPECT_TRUE (sameResults (*histogramOf ({})));
    EXPECT_TRUE (sameResults (*histogramOf ({ { -23.0f, 1 } })));
    EXPECT_TRUE (sameResults (*histogramOfBins (0, 701)));

    std::mt19937 rng (99);
    std::uniform_int_distribution<int> bins (0, 700), repeats (1, 50);

    for (int trial = 0; trial < 20; ++trial)
    {
        auto h = histogramOf ({});
        for (int i = trial * 10; --i >= 0;)
            for (int r = repeats (rng); --r >= 0;)
                h->add (h->getValue (bins (rng)));

        EXPECT_TRUE (sameResults (*h)) << "trial " << trial;
    }

    auto huge = histogramOf ({ { -40.0f, 1 << 24 }, { -30.0f, 7 }, { -10.0f, 1 << 23 } });
    EXPECT_TRUE (sameResults (*huge));
}
