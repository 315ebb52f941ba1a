#include <gtest/gtest.h>

#include "processor/KWeightingCoefficients.h"

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace
{
    using Stage = KWeightingCoefficients::Stage;
    using Set = KWeightingCoefficients::Set;
    using Doubles = std::array<double, 5>;   // b0, b1, b2, a1, a2

    constexpr int namedRates[] = { 44100, 48000, 88200, 96000, 176400, 192000 };

    // The K-weighting pair as ITU-R BS.1770-4 publishes it for 48 kHz.
    constexpr Doubles publishedPreFilter48k { 1.53512485958697, -2.69169618940638, 1.19839281085285,
                                              -1.69065929318241, 0.73248077421585 };
    constexpr Doubles publishedRlb48k { 1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621 };

    Doubles toDoubles (const Stage& s)
    {
        return { double (s.b0), double (s.b1), double (s.b2), double (s.a1), double (s.a2) };
    }

    std::int64_t ulpDistance (float a, float b)
    {
        auto ordered = [] (float f)
        {
            std::int32_t i;
            std::memcpy (&i, &f, sizeof (i));
            return i < 0 ? std::int64_t (std::numeric_limits<std::int32_t>::min()) - i : std::int64_t (i);
        };
        return ordered (b) - ordered (a);
    }

    //==============================================================================
    /*  Both stages are second-order analog sections discretised with the
        pre-warped bilinear transform, K = tan (pi f0 / fs):

            both:      a0 = 1 + K/Q + K^2,  (a1, a2) = (2 (K^2 - 1), 1 - K/Q + K^2) / a0
            shelf:     (b0, b1, b2) = (Vh + Vb K/Q + K^2, 2 (K^2 - Vh), Vh - Vb K/Q + K^2) / a0
            high-pass: (b0, b1, b2) = (1, -2, 1), left unnormalised

        The analog parameters are recovered from the published 48 kHz pair, so
        every other rate follows from the standard alone.
    */
    struct Prototype
    {
        double piF0;        // pi * f0, so that K = tan (piF0 / fs)
        double q;
        double vh = 1.0;    // shelf gain above the corner
        double vb = 1.0;    // shelf's gain factor on the K/Q term
    };

    Prototype invertBilinear (const Doubles& c, double fs)
    {
        // 1 + a1 + a2 = 4 K^2 / a0 and 1 - a1 + a2 = 4 / a0.
        const auto a0 = 4.0 / (1.0 - c[3] + c[4]);
        const auto k2 = (1.0 + c[3] + c[4]) / (1.0 - c[3] + c[4]);
        const auto kOverQ = a0 - 1.0 - k2;
        const auto k = std::sqrt (k2);

        Prototype p { std::atan (k) * fs, k / kOverQ };
        p.vh = (c[0] + c[2]) * a0 / 2.0 - k2;
        p.vb = (c[0] - c[2]) * a0 / (2.0 * kOverQ);
        return p;
    }

    Doubles discretiseShelf (const Prototype& p, double fs)
    {
        const auto k = std::tan (p.piF0 / fs);
        const auto a0 = 1.0 + k / p.q + k * k;
        return { (p.vh + p.vb * k / p.q + k * k) / a0,
                 2.0 * (k * k - p.vh) / a0,
                 (p.vh - p.vb * k / p.q + k * k) / a0,
                 2.0 * (k * k - 1.0) / a0,
                 (1.0 - k / p.q + k * k) / a0 };
    }

    Doubles discretiseHighPass (const Prototype& p, double fs)
    {
        const auto k = std::tan (p.piF0 / fs);
        const auto a0 = 1.0 + k / p.q + k * k;
        return { 1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / p.q + k * k) / a0 };
    }

    //==============================================================================
    std::complex<double> stageResponse (const Doubles& c, double frequency, double fs)
    {
        const auto z1 = std::polar (1.0, -2.0 * juce::MathConstants<double>::pi * frequency / fs);
        return (c[0] + z1 * (c[1] + z1 * c[2])) / (1.0 + z1 * (c[3] + z1 * c[4]));
    }

    double cascadeGainDb (const Set& set, double frequency, double fs)
    {
        const auto h = stageResponse (toDoubles (set.preFilter), frequency, fs)
                     * stageResponse (toDoubles (set.rlb), frequency, fs);
        return 20.0 * std::log10 (std::abs (h));
    }
}

//==============================================================================
TEST (KWeightingCoefficients, EveryRateIsThePublishedDesignRediscretised)
{
    const auto shelf = invertBilinear (publishedPreFilter48k, 48000.0);
    const auto highPass = invertBilinear (publishedRlb48k, 48000.0);

    // The recovered prototypes are the familiar K-weighting: a +4 dB shelf
    // around 1.7 kHz and a 38 Hz high-pass.
    EXPECT_NEAR (shelf.piF0 / juce::MathConstants<double>::pi, 1681.97, 0.01);
    EXPECT_NEAR (20.0 * std::log10 (shelf.vh), 4.0, 0.001);
    EXPECT_NEAR (shelf.q, 0.70718, 0.00001);
    EXPECT_NEAR (highPass.piF0 / juce::MathConstants<double>::pi, 38.135, 0.001);
    EXPECT_NEAR (highPass.q, 0.50033, 0.00001);

    // Four shelf parameters come from the denominator and b0, b2: b1 must fall
    // out of the model, or the prototype is not the one the standard used.
    const auto back = discretiseShelf (shelf, 48000.0);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_NEAR (back[i], publishedPreFilter48k[i], 1.0e-12) << "coefficient " << i;

    for (auto rate : namedRates)
    {
        const auto& set = KWeightingCoefficients::forRate (rate);
        const auto stored = std::array<Doubles, 2> { toDoubles (set.preFilter), toDoubles (set.rlb) };
        const auto derived = std::array<Doubles, 2> { discretiseShelf (shelf, rate), discretiseHighPass (highPass, rate) };

        for (size_t stage = 0; stage < 2; ++stage)
        {
            for (size_t i = 0; i < 5; ++i)
            {
                const auto expected = static_cast<float> (derived[stage][i]);
                const auto actual = static_cast<float> (stored[stage][i]);
                EXPECT_EQ (actual, expected)
                    << rate << " Hz, " << (stage == 0 ? "pre-filter" : "RLB") << " coefficient " << i
                    << ": " << ulpDistance (expected, actual) << " ulp from " << derived[stage][i];
            }
        }
    }
}

TEST (KWeightingCoefficients, The48kSetIsThePublishedPairInSinglePrecision)
{
    const auto& set = KWeightingCoefficients::forRate (48000);
    const auto stored = std::array<Doubles, 2> { toDoubles (set.preFilter), toDoubles (set.rlb) };
    const auto published = std::array<Doubles, 2> { publishedPreFilter48k, publishedRlb48k };

    for (size_t stage = 0; stage < 2; ++stage)
        for (size_t i = 0; i < 5; ++i)
            EXPECT_EQ (stored[stage][i], double (static_cast<float> (published[stage][i])))
                << "stage " << stage << " coefficient " << i;
}

TEST (KWeightingCoefficients, EverySetHasThe48kResponseAtItsOwnRate)
{
    const auto& reference = KWeightingCoefficients::forRate (48000);

    for (auto rate : namedRates)
    {
        const auto& set = KWeightingCoefficients::forRate (rate);
        double worstLow = 0.0, worstAudible = 0.0;

        // 1/48 octave steps, both ends included.
        constexpr int steps = 526;
        for (int i = 0; i <= steps; ++i)
        {
            const auto f = 10.0 * std::pow (2000.0, double (i) / steps);
            const auto deviation = std::abs (cascadeGainDb (set, f, rate) - cascadeGainDb (reference, f, 48000.0));
            auto& worst = f < 20.0 ? worstLow : worstAudible;
            worst = std::max (worst, deviation);
        }

        EXPECT_LE (worstLow, 0.15) << rate << " Hz, 10 to 20 Hz";
        EXPECT_LE (worstAudible, 0.1) << rate << " Hz, 20 Hz to 20 kHz";
    }
}

TEST (KWeightingCoefficients, RatesSelectTheirSetByTruncation)
{
    auto same = [] (const Set& a, const Set& b) { return &a == &b; };
    const auto& set48k = KWeightingCoefficients::forRate (48000);

    // Each named rate has a set of its own.
    for (auto a : namedRates)
        for (auto b : namedRates)
            EXPECT_EQ (same (KWeightingCoefficients::forRate (a), KWeightingCoefficients::forRate (b)), a == b)
                << a << " vs " << b;

    for (int rate : { 32000, 50000, 22050, 8000, 88199, 88201, 0, -44100, 384000 })
        EXPECT_TRUE (same (KWeightingCoefficients::forRate (rate), set48k)) << rate;

    for (int rate : namedRates)
    {
        const auto& expected = KWeightingCoefficients::forRate (rate);
        EXPECT_TRUE (same (KWeightingCoefficients::forSampleRate (rate), expected)) << rate;
        EXPECT_TRUE (same (KWeightingCoefficients::forSampleRate (rate + 0.7), expected)) << rate;
        EXPECT_TRUE (same (KWeightingCoefficients::forSampleRate (std::nextafter (double (rate), 0.0)), set48k)) << rate;
    }

    EXPECT_TRUE (same (KWeightingCoefficients::forSampleRate (48000.5), set48k));
    EXPECT_TRUE (same (KWeightingCoefficients::forSampleRate (44100.7), KWeightingCoefficients::forRate (44100)));

    // Whatever a host sends, the pick is defined.
    for (double rate : { std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity(), 1.0e12, -1.0e12, 4294967296.0 + 44100.0 })
        EXPECT_TRUE (same (KWeightingCoefficients::forSampleRate (rate), set48k)) << rate;
}

TEST (KWeightingCoefficients, FiltersHoldTheTableFloatsExactly)
{
    for (auto rate : namedRates)
    {
        const auto& set = KWeightingCoefficients::forRate (rate);

        for (const auto* stage : { &set.preFilter, &set.rlb })
        {
            const float expected[] = { stage->b0, stage->b1, stage->b2, stage->a1, stage->a2 };

            juce::IIRFilter filter;
            filter.setCoefficients (KWeightingCoefficients::toIIRCoefficients (*stage));

            EXPECT_EQ (std::memcmp (filter.getCoefficients().coefficients, expected, sizeof (expected)), 0) << rate;
        }
    }
}

TEST (KWeightingCoefficients, JuceFilterPairGivesTheKWeightingGainToASine)
{
    constexpr double frequency = 1000.0;
    constexpr float amplitude = 0.5f;
    constexpr int blockSize = 512;

    for (auto rate : namedRates)
    {
        const auto& set = KWeightingCoefficients::forRate (rate);
        juce::IIRFilter pre, rlb;
        pre.setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.preFilter));
        rlb.setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.rlb));

        // One second to settle, then 0.1 s: exactly 100 periods at every rate.
        const auto settle = rate;
        const auto measured = rate / 10;
        std::vector<float> input (static_cast<size_t> (settle + measured));

        for (size_t n = 0; n < input.size(); ++n)
            input[n] = amplitude * static_cast<float> (std::sin (2.0 * juce::MathConstants<double>::pi * frequency
                                                                 * double (n) / double (rate)));

        auto output = input;
        for (size_t start = 0; start < output.size(); start += blockSize)
        {
            const auto count = static_cast<int> (std::min (output.size() - start, size_t (blockSize)));
            pre.processSamples (output.data() + start, count);
            rlb.processSamples (output.data() + start, count);
        }

        double inEnergy = 0.0, outEnergy = 0.0;
        for (auto n = static_cast<size_t> (settle); n < output.size(); ++n)
        {
            inEnergy += double (input[n]) * double (input[n]);
            outEnergy += double (output[n]) * double (output[n]);
        }

        const auto expected = cascadeGainDb (set, frequency, rate);
        EXPECT_NEAR (expected, 0.69, 0.03) << rate;
        EXPECT_NEAR (10.0 * std::log10 (outEnergy / inEnergy), expected, 0.005) << rate;
    }
}
