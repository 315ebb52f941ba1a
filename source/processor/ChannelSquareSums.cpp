#include "processor/ChannelSquareSums.h"

#include "processor/SimdDispatch.h"

#include <juce_core/juce_core.h>

#include <cmath>
#include <cstring>

#if KELT_HAVE_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace
{
    using Sums = std::array<double, ChannelSquareSums::maxChannels>;

    /** Copies and sums samples [start, end) of the first numChannels channels. */
    template <size_t numChannels>
    void copyAndAddPlain (const float* const* source, float* const* destination,
                          int start, int end, Sums& sums) noexcept
    {
        const float* in[numChannels];
        float* out[numChannels];
        double sum[numChannels];

        for (size_t c = 0; c < numChannels; ++c)
        {
            in[c] = source[c];
            out[c] = destination[c];
            sum[c] = sums[c];
        }

        for (int i = start; i < end; ++i)
        {
            for (size_t c = 0; c < numChannels; ++c)
            {
                const auto sample = in[c][i];
                out[c][i] = sample;
                sum[c] += static_cast<double> (sample * sample);
            }
        }

        for (size_t c = 0; c < numChannels; ++c)
            sums[c] = sum[c];
    }

    void copyAndAddPlain (const float* const* source, float* const* destination,
                          int numChannels, int start, int end, Sums& sums) noexcept
    {
        switch (numChannels)
        {
            case 1: copyAndAddPlain<1> (source, destination, start, end, sums); break;
            case 2: copyAndAddPlain<2> (source, destination, start, end, sums); break;
            case 3: copyAndAddPlain<3> (source, destination, start, end, sums); break;
            case 4: copyAndAddPlain<4> (source, destination, start, end, sums); break;
            case 5: copyAndAddPlain<5> (source, destination, start, end, sums); break;
            case 6: copyAndAddPlain<6> (source, destination, start, end, sums); break;
            default: break;
        }
    }

#if KELT_HAVE_AVX2_KERNELS

    /** Eight squares of a channel, its samples copied on the way; a channel
        beyond the summed ones reads as silence. */
    template <size_t channel, size_t numChannels>
    KELT_TARGET_AVX2 inline __m256 squares (const float* const* in, float* const* out, int i) noexcept
    {
        if constexpr (channel < numChannels)
        {
            const auto samples = _mm256_loadu_ps (in[channel] + i);
            _mm256_storeu_ps (out[channel] + i, samples);
            return _mm256_mul_ps (samples, samples);
        }
        else
        {
            return _mm256_setzero_ps();
        }
    }

    /** Up to four channels, one double lane each: the squares of eight
        samples are turned from channel rows into sample columns, and the
        columns are added in sample order. */
    struct QuadLanes
    {
        __m256d sum;

        KELT_TARGET_AVX2 void add (__m256 a0, __m256 a1, __m256 a2, __m256 a3) noexcept
        {
            const auto t0 = _mm256_unpacklo_ps (a0, a1);
            const auto t1 = _mm256_unpackhi_ps (a0, a1);
            const auto t2 = _mm256_unpacklo_ps (a2, a3);
            const auto t3 = _mm256_unpackhi_ps (a2, a3);

            // Samples k (low half) and k + 4 (high half) of the four channels.
            const auto s0 = _mm256_shuffle_ps (t0, t2, 0x44);
            const auto s1 = _mm256_shuffle_ps (t0, t2, 0xee);
            const auto s2 = _mm256_shuffle_ps (t1, t3, 0x44);
            const auto s3 = _mm256_shuffle_ps (t1, t3, 0xee);

            sum = _mm256_add_pd (sum, _mm256_cvtps_pd (_mm256_castps256_ps128 (s0)));
            sum = _mm256_add_pd (sum, _mm256_cvtps_pd (_mm256_castps256_ps128 (s1)));
            sum = _mm256_add_pd (sum, _mm256_cvtps_pd (_mm256_castps256_ps128 (s2)));
            sum = _mm256_add_pd (sum, _mm256_cvtps_pd (_mm256_castps256_ps128 (s3)));
            sum = _mm256_add_pd (sum, _mm256_cvtps_pd (_mm256_extractf128_ps (s0, 1)));
            sum = _mm256_add_pd (sum, _mm256_cvtps_pd (_mm256_extractf128_ps (s1, 1)));
            sum = _mm256_add_pd (sum, _mm256_cvtps_pd (_mm256_extractf128_ps (s2, 1)));
            sum = _mm256_add_pd (sum, _mm256_cvtps_pd (_mm256_extractf128_ps (s3, 1)));
        }
    };

    /** Up to two channels, one double lane each, the same way. */
    struct PairLanes
    {
        __m128d sum;

        KELT_TARGET_AVX2 void addTwo (__m128 pairs) noexcept
        {
            sum = _mm_add_pd (sum, _mm_cvtps_pd (pairs));
            sum = _mm_add_pd (sum, _mm_cvtps_pd (_mm_movehl_ps (pairs, pairs)));
        }

        KELT_TARGET_AVX2 void add (__m256 a0, __m256 a1) noexcept
        {
            const auto t0 = _mm256_unpacklo_ps (a0, a1); // samples 0, 1 | 4, 5
            const auto t1 = _mm256_unpackhi_ps (a0, a1); // samples 2, 3 | 6, 7

            addTwo (_mm256_castps256_ps128 (t0));
            addTwo (_mm256_castps256_ps128 (t1));
            addTwo (_mm256_extractf128_ps (t0, 1));
            addTwo (_mm256_extractf128_ps (t1, 1));
        }
    };

    /** Channels 0 to 3 in quad lanes from three channels up; the rest, or a
        mono or stereo window, in pair lanes. */
    template <size_t numChannels>
    KELT_TARGET_AVX2 void copyAndAddAvx2 (const float* const* in, float* const* out, int numSamples, Sums& sums) noexcept
    {
        constexpr bool useQuad = numChannels >= 3;
        constexpr bool usePair = numChannels != 3 && numChannels != 4;
        constexpr size_t firstPairChannel = useQuad ? 4 : 0;

        QuadLanes quad { _mm256_setzero_pd() };
        PairLanes pair { _mm_setzero_pd() };

        if constexpr (useQuad)
            quad.sum = _mm256_setr_pd (sums[0], sums[1], sums[2], sums[3]);

        if constexpr (usePair)
            pair.sum = _mm_setr_pd (sums[firstPairChannel],
                                    firstPairChannel + 1 < numChannels ? sums[firstPairChannel + 1] : 0.0);

        const auto numVectorSamples = numSamples - numSamples % 8;

        for (int i = 0; i < numVectorSamples; i += 8)
        {
            if constexpr (useQuad)
                quad.add (squares<0, numChannels> (in, out, i), squares<1, numChannels> (in, out, i),
                          squares<2, numChannels> (in, out, i), squares<3, numChannels> (in, out, i));

            if constexpr (usePair)
                pair.add (squares<firstPairChannel, numChannels> (in, out, i),
                          squares<firstPairChannel + 1, numChannels> (in, out, i));
        }

        alignas (32) double lanes[4];

        if constexpr (useQuad)
        {
            _mm256_store_pd (lanes, quad.sum);

            for (size_t c = 0; c < 4 && c < numChannels; ++c)
                sums[c] = lanes[c];
        }

        if constexpr (usePair)
        {
            _mm_store_pd (lanes, pair.sum);

            for (size_t c = firstPairChannel; c < numChannels; ++c)
                sums[c] = lanes[c - firstPairChannel];
        }

        copyAndAddPlain<numChannels> (in, out, numVectorSamples, numSamples, sums);
    }

    bool tryCopyAndAddAvx2 (const float* const* source, float* const* destination,
                            int numChannels, int numSamples, Sums& sums) noexcept
    {
        if (! SimdDispatch::useAvx2())
            return false;

        switch (numChannels)
        {
            case 1: copyAndAddAvx2<1> (source, destination, numSamples, sums); return true;
            case 2: copyAndAddAvx2<2> (source, destination, numSamples, sums); return true;
            case 3: copyAndAddAvx2<3> (source, destination, numSamples, sums); return true;
            case 4: copyAndAddAvx2<4> (source, destination, numSamples, sums); return true;
            case 5: copyAndAddAvx2<5> (source, destination, numSamples, sums); return true;
            case 6: copyAndAddAvx2<6> (source, destination, numSamples, sums); return true;
            default: return false;
        }
    }
#else
    bool tryCopyAndAddAvx2 (const float* const*, float* const*, int, int, Sums&) noexcept
    {
        return false;
    }
#endif
}

ChannelSquareSums::ChannelSquareSums (int numChannels) noexcept
    : numSummed (juce::jlimit (0, maxChannels, numChannels))
{
}

void ChannelSquareSums::copyAndAdd (const float* const* source, float* const* destination,
                                    int numChannels, int numSamples) noexcept
{
    if (numSamples <= 0)
        return;

    const auto summed = juce::jmin (numSummed, numChannels);

    if (! tryCopyAndAddAvx2 (source, destination, summed, numSamples, sums))
        copyAndAddPlain (source, destination, summed, 0, numSamples, sums);

    for (int c = juce::jmax (0, summed); c < numChannels; ++c)
        std::memcpy (destination[c], source[c], sizeof (float) * static_cast<size_t> (numSamples));
}

double ChannelSquareSums::getSum (int channel) const noexcept
{
    return juce::isPositiveAndBelow (channel, numSummed) ? sums[static_cast<size_t> (channel)] : 0.0;
}

float ChannelSquareSums::getRMSLevel (int channel, int length) const noexcept
{
    if (length <= 0 || ! juce::isPositiveAndBelow (channel, numSummed))
        return 0.0f;

    return static_cast<float> (std::sqrt (getSum (channel) / length));
}
