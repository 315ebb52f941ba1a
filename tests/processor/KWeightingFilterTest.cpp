#include <gtest/gtest.h>

#include "processor/KWeightingCoefficients.h"
#include "processor/KWeightingFilter.h"
#include "processor/SimdDispatch.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

TEST (KWeightingFilter, CascadeGivesTheFrameworksFilterPairsResultsBitForBit)
{
    constexpr int maxChannels = KWeightingFilter::maxCascadeChannels;
    juce::Random random (11);

    // On a processor with AVX2 its kernels run unless turned off, so both
    // kinds are compared.
#if KELT_HAVE_AVX2_KERNELS
    __builtin_cpu_init();
    const bool hasAvx2 = __builtin_cpu_supports ("avx2") != 0;
#else
    const bool hasAvx2 = false;
#endif

    // Loud, tiny (into the denormal range), silent and broken blocks of
    // awkward lengths, so that states carry over between blocks; one channel
    // with an inactive stage, which is left to the framework's filter.
    for (bool avx2 : { true, false })
        for (int rate : { 44100, 48000, 192000 })
            for (int channels = 1; channels <= maxChannels; ++channels)
            {
                SimdDispatch::setAvx2Allowed (avx2);
                ASSERT_EQ (SimdDispatch::useAvx2(), avx2 && hasAvx2);
                const auto& set = KWeightingCoefficients::forRate (rate);
                const auto preCoefficients = KWeightingCoefficients::toIIRCoefficients (set.preFilter);
                const auto rlbCoefficients = KWeightingCoefficients::toIIRCoefficients (set.rlb);
                std::array<KWeightingFilter, maxChannels> pre, rlb;
                std::array<juce::IIRFilter, maxChannels> plainPre, plainRlb;

                for (size_t c = 0; c < (size_t) maxChannels; ++c)
                {
                    pre[c].setCoefficients (preCoefficients);
                    plainPre[c].setCoefficients (preCoefficients);
                    rlb[c].setCoefficients (rlbCoefficients);
                    plainRlb[c].setCoefficients (rlbCoefficients);
                }

                rlb[3].makeInactive();
                plainRlb[3].makeInactive();

                for (auto [length, level] : { std::pair (512, 1.0f), { 7, 1000.0f }, { 0, 1.0f }, { 4096, 1.0e-37f }, { 4096, 0.0f }, { 333, 1.0f } })
                {
                    juce::AudioSampleBuffer input (channels, length), expected, actual (channels, length);

                    for (int c = 0; c < channels; ++c)
                        for (int i = 0; i < length; ++i)
                            input.setSample (c, i, (random.nextFloat() * 2.0f - 1.0f) * level);

                    if (length == 7)
                        input.setSample (channels - 1, 3, std::numeric_limits<float>::quiet_NaN());

                    expected.makeCopyOf (input);

                    for (int c = 0; c < channels; ++c)
                    {
                        plainPre[(size_t) c].processSamples (expected.getWritePointer (c), length);
                        plainRlb[(size_t) c].processSamples (expected.getWritePointer (c), length);
                    }

                    // In place and from a separate input by turns.
                    const bool inPlace = (channels + length) % 2 == 0;

                    if (inPlace)
                        actual.makeCopyOf (input);

                    KWeightingFilter::processCascade (pre.data(), rlb.data(), (inPlace ? actual : input).getArrayOfReadPointers(),
                                                      actual.getArrayOfWritePointers(), channels, length);

                    for (int c = 0; c < channels; ++c)
                        for (int i = 0; i < length; ++i)
                            ASSERT_TRUE (std::memcmp (actual.getReadPointer (c, i), expected.getReadPointer (c, i), sizeof (float)) == 0
                                         || (std::isnan (actual.getSample (c, i)) && std::isnan (expected.getSample (c, i))))
                                << (avx2 ? "AVX2 where available, " : "portable, ") << rate << " Hz, " << channels << " channels, sample " << i;
                }
            }

    SimdDispatch::setAvx2Allowed (true);

    // The 48 kHz pre-filter is ITU-R BS.1770's, in single precision.
    const double published[5] = { 1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585 };

    for (int i = 0; i < 5; ++i)
        EXPECT_EQ ((&KWeightingCoefficients::forRate (48000).preFilter.b0)[i], (float) published[i]) << i;
}
