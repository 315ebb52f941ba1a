#include <gtest/gtest.h>

#include "processor/ChannelSquareSums.h"
#include "processor/SimdDispatch.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstring>
#include <random>

namespace
{
    constexpr int maxChannels = ChannelSquareSums::maxChannels;

    /** Samples spread over many orders of magnitude, denormals included, so
        that every addition to a sum rounds differently. */
    juce::AudioSampleBuffer wideRangeNoise (int channels, int n, unsigned seed)
    {
        std::mt19937 rng (seed);
        std::uniform_real_distribution<float> mantissa (-1.0f, 1.0f);
        std::uniform_int_distribution<int> exponent (-135, 12);
        juce::AudioSampleBuffer block (channels, n);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < n; ++i)
                block.setSample (c, i, std::ldexp (mantissa (rng), exponent (rng)));

        return block;
    }

    bool sameBits (float a, float b)    { return std::memcmp (&a, &b, sizeof (a)) == 0; }
    bool sameBits (double a, double b)  { return std::memcmp (&a, &b, sizeof (a)) == 0; }
}

TEST (ChannelSquareSums, CopiesAndGivesTheBuffersRmsLevelBitForBit)
{
    for (bool avx2 : { true, false })
    {
        SimdDispatch::setAvx2Allowed (avx2);

        for (int channels = 1; channels <= maxChannels; ++channels)
            for (int length : { 1, 7, 8, 9, 64, 1001 })
                for (int split : { 0, 1, length / 2, length - 1 })
                {
                    SCOPED_TRACE (testing::Message() << (avx2 ? "AVX2 kernels where available, " : "portable kernels, ")
                                                     << channels << " channels, " << length << " samples split at " << split);
                    const auto source = wideRangeNoise (maxChannels, length, static_cast<unsigned> (length * 7 + channels));
                    juce::AudioSampleBuffer destination (maxChannels, length);
                    destination.clear();

                    // Two pieces into one window, as a read across the end of a ring copies them.
                    ChannelSquareSums sums (channels);
                    const float* from[maxChannels];
                    float* to[maxChannels];

                    for (int piece = 0; piece < 2; ++piece)
                    {
                        const auto start = piece == 0 ? 0 : split;
                        for (int c = 0; c < maxChannels; ++c)
                        {
                            from[c] = source.getReadPointer (c, start);
                            to[c] = destination.getWritePointer (c, start);
                        }
                        sums.copyAndAdd (from, to, maxChannels, piece == 0 ? split : length - split);
                    }

                    for (int c = 0; c < maxChannels; ++c)
                    {
                        ASSERT_EQ (std::memcmp (destination.getReadPointer (c), source.getReadPointer (c),
                                                sizeof (float) * (size_t) length), 0) << "channel " << c;

                        double plainSum = 0.0;
                        for (int i = 0; i < length; ++i)
                            plainSum += static_cast<double> (source.getSample (c, i) * source.getSample (c, i));

                        const auto expectedSum = c < channels ? plainSum : 0.0;
                        const auto expectedRms = c < channels ? source.getRMSLevel (c, 0, length) : 0.0f;
                        EXPECT_TRUE (sameBits (sums.getSum (c), expectedSum)) << "channel " << c;
                        EXPECT_TRUE (sameBits (sums.getRMSLevel (c, length), expectedRms)) << "channel " << c;

                        // A longer window whose tail is silent: the zeros add nothing.
                        juce::AudioSampleBuffer padded (1, length + 100);
                        padded.clear();
                        padded.copyFrom (0, 0, source, c, 0, length);
                        if (c < channels)
                        {
                            EXPECT_TRUE (sameBits (sums.getRMSLevel (c, length + 100), padded.getRMSLevel (0, 0, length + 100)));
                        }
                    }
                }
    }

    SimdDispatch::setAvx2Allowed (true);
}

TEST (ChannelSquareSums, EmptyWindowsAndChannelsOutsideReadZero)
{
    ChannelSquareSums sums (2);
    EXPECT_EQ (sums.getRMSLevel (0, 0), 0.0f);       // getRMSLevel's answer, not 0 / 0
    EXPECT_EQ (sums.getRMSLevel (0, 480), 0.0f);
    EXPECT_EQ (sums.getRMSLevel (2, 480), 0.0f);
    EXPECT_EQ (sums.getRMSLevel (-1, 480), 0.0f);
    EXPECT_EQ (ChannelSquareSums (9).getNumChannels(), maxChannels);
    EXPECT_EQ (ChannelSquareSums (-1).getNumChannels(), 0);
}
