#include <gtest/gtest.h>

#include "processor/KWeightingCoefficients.h"
#include "processor/KWeightingFilter.h"
#include "processor/SimdDispatch.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace
{
    constexpr int maxChannels = KWeightingFilter::maxCascadeChannels;
    constexpr int namedRates[] = { 44100, 48000, 88200, 96000, 176400, 192000 };

    /** The cascade next to the plain form: a juce::IIRFilter pair per channel. */
    struct Pair
    {
        explicit Pair (int sampleRate)
        {
            const auto& set = KWeightingCoefficients::forRate (sampleRate);

            for (size_t c = 0; c < (size_t) maxChannels; ++c)
            {
                for (juce::IIRFilter* f : { (juce::IIRFilter*) &cascadePre[c], &plainPre[c] })
                    f->setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.preFilter));

                for (juce::IIRFilter* f : { (juce::IIRFilter*) &cascadeRlb[c], &plainRlb[c] })
                    f->setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.rlb));
            }
        }

        /** Both over one block; true when the outputs hold the same bits (or
            are both not-a-number). */
        ::testing::AssertionResult run (const juce::AudioSampleBuffer& input, bool inPlace)
        {
            const auto channels = input.getNumChannels(), n = input.getNumSamples();
            juce::AudioSampleBuffer expected (input), actual (input);

            for (int c = 0; c < channels; ++c)
            {
                plainPre[(size_t) c].processSamples (expected.getWritePointer (c), n);
                plainRlb[(size_t) c].processSamples (expected.getWritePointer (c), n);

                if (! inPlace)
                    juce::FloatVectorOperations::fill (actual.getWritePointer (c), 12345.0f, n);
            }

            KWeightingFilter::processCascade (cascadePre.data(), cascadeRlb.data(),
                                              inPlace ? actual.getArrayOfReadPointers() : input.getArrayOfReadPointers(),
                                              actual.getArrayOfWritePointers(), channels, n);

            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                {
                    const auto a = actual.getSample (c, i), e = expected.getSample (c, i);

                    if (std::memcmp (&a, &e, sizeof (float)) != 0 && ! (std::isnan (a) && std::isnan (e)))
                        return ::testing::AssertionFailure() << "channel " << c << " sample " << i << ": " << a << " instead of " << e;
                }

            return ::testing::AssertionSuccess();
        }

        std::array<KWeightingFilter, maxChannels> cascadePre, cascadeRlb;
        std::array<juce::IIRFilter, maxChannels> plainPre, plainRlb;
    };

    juce::AudioSampleBuffer noise (std::mt19937& rng, int channels, int n, float level)
    {
        std::uniform_real_distribution<float> dist (-level, level);
        juce::AudioSampleBuffer block (channels, n);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < n; ++i)
                block.setSample (c, i, dist (rng));

        return block;
    }

}

TEST (KWeightingFilter, CascadeGivesTheJuceFiltersResultsBitForBit)
{
    // Loud, quiet, tiny, silent and broken stretches in blocks of awkward
    // lengths, so that states carry over between blocks, reach the denormal
    // range, get snapped to zero at a block's end or turn non-finite.
    for (bool avx2 : { true, false })
    {
        SimdDispatch::setAvx2Allowed (avx2);

        for (int rate : { 44100, 48000, 96000, 192000 })
            for (int channels = 1; channels <= maxChannels; ++channels)
                for (bool inPlace : { true, false })
                {
                    SCOPED_TRACE (testing::Message() << (avx2 ? "AVX2 where available, " : "portable, ") << rate << " Hz, "
                                                     << channels << " channels" << (inPlace ? ", in place" : ""));
                    std::mt19937 rng ((unsigned) (rate + channels));
                    Pair pair (rate);

                    for (int n : { 512, 1, 7, 0, 333 })
                        ASSERT_TRUE (pair.run (noise (rng, channels, n, 1.0f), inPlace));

                    for (float level : { 1000.0f, 1.0e-30f, 1.0e-37f, 1.0e-40f, 0.0f, 0.0f, 0.0f })
                        ASSERT_TRUE (pair.run (noise (rng, channels, 4096, level), inPlace));

                    auto broken = noise (rng, channels, 64, 1.0f);
                    broken.setSample (channels - 1, 10, std::numeric_limits<float>::quiet_NaN());
                    broken.setSample (0, 63, -std::numeric_limits<float>::infinity());
                    ASSERT_TRUE (pair.run (broken, inPlace));
                    ASSERT_TRUE (pair.run (noise (rng, channels, 64, 1.0f), inPlace));
                }
    }

    SimdDispatch::setAvx2Allowed (true);
}

TEST (KWeightingFilter, AnInactiveStageLeavesItsChannelToTheFrameworksFilter)
{
    std::mt19937 rng (11);
    Pair mixed (48000);
    mixed.cascadeRlb[3].makeInactive();
    mixed.plainRlb[3].makeInactive();

    for (int block = 0; block < 3; ++block)
        ASSERT_TRUE (mixed.run (noise (rng, maxChannels, 100, 1.0f), block % 2 == 0));
}

//==============================================================================
TEST (KWeightingCoefficients, The48kSetIsThePublishedPairAndOtherRatesTakeTheirOwnByTruncation)
{
    // ITU-R BS.1770's pair for 48 kHz, in single precision.
    const double published[10] = { 1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585,
                                   1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621 };
    const auto& set48k = KWeightingCoefficients::forRate (48000);

    for (int i = 0; i < 10; ++i)
        EXPECT_EQ ((&set48k.preFilter.b0)[i], (float) published[i]) << i;

    // Filters hold the table's floats exactly.
    juce::IIRFilter filter;
    filter.setCoefficients (KWeightingCoefficients::toIIRCoefficients (set48k.preFilter));
    EXPECT_EQ (std::memcmp (filter.getCoefficients().coefficients, &set48k.preFilter, 5 * sizeof (float)), 0);

    // Each rate takes its set by the rate truncated to an integer; any other
    // rate, and anything a host may send, takes the 48 kHz set.
    for (auto [requested, expected] : std::initializer_list<std::pair<double, int>> {
             { 44100.7, 44100 }, { 88200.0, 88200 }, { 96000.99, 96000 }, { 176400.0, 176400 }, { 192000.5, 192000 }, { std::nextafter (44100.0, 0.0), 48000 }, { 48000.5, 48000 }, { 32000.0, 48000 }, { 0.0, 48000 }, { std::numeric_limits<double>::quiet_NaN(), 48000 }, { std::numeric_limits<double>::infinity(), 48000 }, { -1.0e12, 48000 }, { 4294967296.0 + 44100.0, 48000 }, { 2147483647.5, 48000 } })
        EXPECT_EQ (&KWeightingCoefficients::forSampleRate (requested), &KWeightingCoefficients::forRate (expected)) << requested;

    for (auto a : namedRates)
        for (auto b : namedRates)
            EXPECT_EQ (&KWeightingCoefficients::forRate (a) == &KWeightingCoefficients::forRate (b), a == b);
}
