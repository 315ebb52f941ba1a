#include <gtest/gtest.h>

#include "processor/KWeightingCoefficients.h"
#include "processor/KWeightingFilter.h"
#include "processor/SimdDispatch.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace
{
    constexpr int maxChannels = KWeightingFilter::maxCascadeChannels;

    /** Runs a test body with the AVX2 kernels, where the processor has them,
        and then with the portable ones. */
    template <typename Body>
    void forEachKernel (Body&& body)
    {
        for (bool avx2 : { true, false })
        {
            SimdDispatch::setAvx2Allowed (avx2);
            SCOPED_TRACE (avx2 ? "AVX2 kernels where available" : "portable kernels");
            body();
        }

        SimdDispatch::setAvx2Allowed (true);
    }

    /** The cascade under test next to the plain reference: a juce::IIRFilter
        pair per channel, run one after the other. */
    struct Pair
    {
        explicit Pair (int sampleRate)
        {
            const auto& set = KWeightingCoefficients::forRate (sampleRate);

            for (int c = 0; c < maxChannels; ++c)
            {
                cascadePre[(size_t) c].setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.preFilter));
                cascadeRlb[(size_t) c].setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.rlb));
                plainPre[(size_t) c].setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.preFilter));
                plainRlb[(size_t) c].setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.rlb));
            }
        }

        /** Both paths over one block; true when the outputs are the same bits
            (or, where allowSameNaN, both not-a-number). */
        ::testing::AssertionResult run (const juce::AudioSampleBuffer& input, bool inPlace, bool allowSameNaN = false)
        {
            const auto channels = input.getNumChannels();
            const auto n = input.getNumSamples();

            juce::AudioSampleBuffer expected (input);
            for (int c = 0; c < channels; ++c)
            {
                plainPre[(size_t) c].processSamples (expected.getWritePointer (c), n);
                plainRlb[(size_t) c].processSamples (expected.getWritePointer (c), n);
            }

            juce::AudioSampleBuffer actual (input);
            if (! inPlace)
                for (int c = 0; c < channels; ++c)
                    juce::FloatVectorOperations::fill (actual.getWritePointer (c), 12345.0f, n);

            KWeightingFilter::processCascade (cascadePre.data(), cascadeRlb.data(),
                                              inPlace ? actual.getArrayOfReadPointers() : input.getArrayOfReadPointers(),
                                              actual.getArrayOfWritePointers(), channels, n);

            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                {
                    const auto a = actual.getSample (c, i), e = expected.getSample (c, i);

                    if (std::memcmp (&a, &e, sizeof (float)) != 0 && ! (allowSameNaN && std::isnan (a) && std::isnan (e)))
                        return ::testing::AssertionFailure() << "channel " << c << " sample " << i << ": "
                                                             << a << " instead of " << e;
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

    juce::AudioSampleBuffer silence (int channels, int n)
    {
        juce::AudioSampleBuffer block (channels, n);
        block.clear();
        return block;
    }
}

TEST (KWeightingFilter, CascadeGivesTheJuceFiltersResultsBitForBit)
{
    // Loud, quiet, tiny and silent stretches in blocks of every awkward
    // length, so that the filter states carry over between blocks, reach the
    // denormal range and get snapped to zero at the end of a block.
    forEachKernel ([]
    {
        for (int rate : { 44100, 48000, 96000, 192000 })
            for (int channels = 1; channels <= maxChannels; ++channels)
                for (bool inPlace : { true, false })
                {
                    SCOPED_TRACE (testing::Message() << rate << " Hz, " << channels << " channels, "
                                                     << (inPlace ? "in place" : "out of place"));
                    std::mt19937 rng (static_cast<unsigned> (rate + channels));
                    Pair pair (rate);

                    for (int n : { 512, 1, 7, 0, 333 })
                        ASSERT_TRUE (pair.run (noise (rng, channels, n, 1.0f), inPlace));

                    for (float level : { 1000.0f, 1.0e-30f, 1.0e-37f, 1.0e-40f })
                        ASSERT_TRUE (pair.run (noise (rng, channels, 100, level), inPlace));

                    for (int block = 0; block < 40; ++block)
                        ASSERT_TRUE (pair.run (silence (channels, 4096), inPlace));

                    ASSERT_TRUE (pair.run (noise (rng, channels, 64, 0.5f), inPlace));
                }
    });
}

TEST (KWeightingFilter, CascadeCarriesNonFiniteSamplesLikeTheJuceFilters)
{
    forEachKernel ([]
    {
        std::mt19937 rng (7);
        Pair pair (48000);

        auto block = noise (rng, maxChannels, 64, 1.0f);
        block.setSample (0, 10, std::numeric_limits<float>::quiet_NaN());
        block.setSample (2, 20, std::numeric_limits<float>::infinity());
        block.setSample (5, 63, -std::numeric_limits<float>::infinity());

        ASSERT_TRUE (pair.run (block, true, true));
        ASSERT_TRUE (pair.run (noise (rng, maxChannels, 64, 1.0f), true, true));
    });
}

TEST (KWeightingFilter, InactiveFiltersLeaveEveryChannelToTheJuceFilters)
{
    forEachKernel ([]
    {
        std::mt19937 rng (11);

        // Nothing prepared: the samples pass unchanged, also into another buffer.
        Pair idle (48000);
        for (int c = 0; c < maxChannels; ++c)
        {
            idle.cascadePre[(size_t) c].makeInactive();
            idle.plainPre[(size_t) c].makeInactive();
            idle.cascadeRlb[(size_t) c].makeInactive();
            idle.plainRlb[(size_t) c].makeInactive();
        }

        ASSERT_TRUE (idle.run (noise (rng, maxChannels, 100, 1.0f), false));

        // One inactive stage among active ones: the other channels are still
        // filtered, and each keeps its own state for the blocks after.
        Pair mixed (48000);
        mixed.cascadeRlb[3].makeInactive();
        mixed.plainRlb[3].makeInactive();

        for (int block = 0; block < 3; ++block)
            ASSERT_TRUE (mixed.run (noise (rng, maxChannels, 100, 1.0f), block % 2 == 0));
    });
}

TEST (KWeightingFilter, ResetsFromAnotherThreadNeverBlockTheCascade)
{
    // The cascade holds all twelve locks at once; a thread that resets one
    // filter at a time must neither deadlock with it nor see a torn block.
    Pair pair (48000);
    std::atomic<bool> done { false };

    std::thread resetter ([&]
    {
        for (int i = 0; ! done.load(); ++i)
        {
            pair.cascadePre[(size_t) (i % maxChannels)].reset();
            pair.cascadeRlb[(size_t) ((i + 3) % maxChannels)].resetIfNotFinite();
        }
    });

    std::mt19937 rng (3);
    const auto input = noise (rng, maxChannels, 256, 1.0f);
    juce::AudioSampleBuffer output (maxChannels, input.getNumSamples());

    for (int i = 0; i < 2000; ++i)
        KWeightingFilter::processCascade (pair.cascadePre.data(), pair.cascadeRlb.data(),
                                          input.getArrayOfReadPointers(), output.getArrayOfWritePointers(),
                                          maxChannels, input.getNumSamples());

    done = true;
    resetter.join();

    for (int c = 0; c < maxChannels; ++c)
        for (int i = 0; i < output.getNumSamples(); ++i)
            ASSERT_TRUE (std::isfinite (output.getSample (c, i)));
}
