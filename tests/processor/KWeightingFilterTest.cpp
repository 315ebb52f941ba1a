#include <gtest/gtest.h>

#include "processor/KWeightingCoefficients.h"
#include "processor/KWeightingFilter.h"
#include "processor/SimdDispatch.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

TEST (KWeightingFilter, CascadeGivesTheJuceFiltersResultsBitForBit)
{
    // Loud, quiet, tiny, silent and broken stretches in blocks of awkward
    // lengths, so that states carry over between blocks, reach the denormal
    // range, get snapped to zero at a block's end or turn non-finite; last,
    // one channel's second stage is inactive.
    constexpr int maxChannels = KWeightingFilter::maxCascadeChannels;
    const auto& set = KWeightingCoefficients::forRate (48000);

    for (int run = 0; run < 4 * maxChannels; ++run)
    {
        const bool avx2 = run % 2 == 0, inPlace = run % 4 < 2;
        const int channels = 1 + run / 4;
        SimdDispatch::setAvx2Allowed (avx2);
        SCOPED_TRACE (testing::Message() << channels << " channels" << (avx2 ? ", AVX2 where available" : "") << (inPlace ? ", in place" : ""));
        std::array<KWeightingFilter, maxChannels> pre, rlb;
        std::array<juce::IIRFilter, maxChannels> plainPre, plainRlb;

        for (size_t c = 0; c < (size_t) maxChannels; ++c)
        {
            for (juce::IIRFilter* f : { (juce::IIRFilter*) &pre[c], &plainPre[c] })
                f->setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.preFilter));

            for (juce::IIRFilter* f : { (juce::IIRFilter*) &rlb[c], &plainRlb[c] })
                c == 3 && run == 4 * maxChannels - 1 ? f->makeInactive() : f->setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.rlb));
        }

        std::mt19937 rng ((unsigned) run);

        for (auto [n, level] : std::initializer_list<std::pair<int, float>> { { 1, 1.0f }, { 7, 1.0f }, { 0, 1.0f }, { 333, 1.0f }, { 4096, 1000.0f }, { 4096, 1.0e-37f }, { 4096, 1.0e-40f }, { 4096, 0.0f }, { 4096, 0.0f }, { 64, std::numeric_limits<float>::quiet_NaN() }, { 64, 1.0f } })
        {
            std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
            juce::AudioSampleBuffer input (channels, n), expected, actual;

            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                {
                    const auto broken = c == 0 ? -std::numeric_limits<float>::infinity() : level; // level NaN: a broken block
                    input.setSample (c, i, std::isnan (level) && i == 10 ? broken : dist (rng) * (std::isnan (level) ? 1.0f : level));
                }

            expected.makeCopyOf (input);
            actual.makeCopyOf (input);

            for (int c = 0; c < channels; ++c)
            {
                plainPre[(size_t) c].processSamples (expected.getWritePointer (c), n);
                plainRlb[(size_t) c].processSamples (expected.getWritePointer (c), n);

                if (! inPlace)
                    juce::FloatVectorOperations::fill (actual.getWritePointer (c), 12345.0f, n);
            }

            KWeightingFilter::processCascade (pre.data(), rlb.data(), inPlace ? actual.getArrayOfReadPointers() : input.getArrayOfReadPointers(),
                                              actual.getArrayOfWritePointers(), channels, n);

            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                {
                    const auto a = actual.getSample (c, i), e = expected.getSample (c, i);
                    ASSERT_TRUE (std::memcmp (&a, &e, sizeof (float)) == 0 || (std::isnan (a) && std::isnan (e))) << "channel " << c << " sample " << i << ": " << a << " instead of " << e;
                }
        }
    }

    SimdDispatch::setAvx2Allowed (true);
}

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
             { 44100.7, 44100 }, { 88200.0, 88200 }, { 96000.99, 96000 }, { 176400.0, 176400 }, { 192000.5, 192000 }, { std::nextafter (44100.0, 0.0), 48000 }, { 32000.0, 48000 }, { std::numeric_limits<double>::quiet_NaN(), 48000 }, { -1.0e12, 48000 }, { 4294967296.0 + 44100.0, 48000 } })
        EXPECT_EQ (&KWeightingCoefficients::forSampleRate (requested), &KWeightingCoefficients::forRate (expected)) << requested;

    EXPECT_NE (&KWeightingCoefficients::forRate (44100), &KWeightingCoefficients::forRate (192000));
}
