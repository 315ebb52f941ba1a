#include <gtest/gtest.h>

#include "processor/OverlapFifo.h"
#include "processor/SimdDispatch.h"

namespace
{
    /** Channel c of the block holds start + i + 1000 c at sample i. */
    juce::AudioSampleBuffer ramp (int start, int length, int channels = OverlapFifo::numChannels)
    {
        juce::AudioSampleBuffer block (channels, length);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < length; ++i)
                block.setSample (c, i, (float) (start + i + 1000 * c));

        return block;
    }

    /** Reads a window into a destination full of -1 and checks that it holds
        the ramp from start in its first `length` samples of six channels and
        zeros everywhere else. */
    ::testing::AssertionResult readsRamp (OverlapFifo& fifo, int count, int start, int length,
                                          int channels = OverlapFifo::numChannels, int room = -1)
    {
        juce::AudioSampleBuffer window (channels, room < 0 ? count : room);

        for (int c = 0; c < channels; ++c)
            juce::FloatVectorOperations::fill (window.getWritePointer (c), -1.0f, window.getNumSamples());

        ChannelSquareSums sums (channels);

        if (! fifo.readWindow (window, count, &sums))
            return ::testing::AssertionFailure() << "the read was refused";

        for (int c = 0; c < channels; ++c)
        {
            for (int i = 0; i < window.getNumSamples(); ++i)
            {
                const auto expected = i < length && c < OverlapFifo::numChannels ? (float) (start + i + 1000 * c) : 0.0f;

                if (window.getSample (c, i) != expected)
                    return ::testing::AssertionFailure() << "channel " << c << " sample " << i << " is " << window.getSample (c, i);
            }

            // The squares summed on the way give the window's RMS level bit for bit.
            if (c < ChannelSquareSums::maxChannels
                && sums.getRMSLevel (c, window.getNumSamples()) != window.getRMSLevel (c, 0, window.getNumSamples()))
                return ::testing::AssertionFailure() << "channel " << c << " summed " << sums.getRMSLevel (c, window.getNumSamples());
        }

        return ::testing::AssertionSuccess();
    }
}

TEST (OverlapFifo, CutsOverlappingWindowsOutOfARing)
{
    OverlapFifo fifo (100, 0.75f);
    fifo.write (ramp (0, 60));
    fifo.write (ramp (60, 50)); // one slot stays empty: the first 39 fit
    fifo.write (ramp (500, 10)); // full: dropped whole
    EXPECT_EQ (fifo.getNumReady(), 99);
    EXPECT_TRUE (readsRamp (fifo, 40, 0, 40));
    EXPECT_EQ (fifo.getNumReady(), 89); // on by the 10 the next window does not share

    // Copies split at the end of the ring, and a short read zeroes the rest.
    EXPECT_TRUE (readsRamp (fifo, 80, 10, 80));
    fifo.write (ramp (99, 70)); // 30 fit
    EXPECT_EQ (fifo.getNumReady(), 99);
    EXPECT_TRUE (readsRamp (fifo, 300, 30, 99, 8, 150)); // no more than is ready, nor than six channels
    EXPECT_EQ (fifo.getNumReady(), 75);
    EXPECT_TRUE (readsRamp (fifo, -3, 0, 0, 6, 5));
    fifo.write (ramp (129, 60)); // behind the reader now: 24 fit, unread audio stays
    EXPECT_EQ (fifo.getNumReady(), 99);
    EXPECT_TRUE (readsRamp (fifo, 99, 54, 99));
    EXPECT_TRUE (readsRamp (fifo, 100, 78, 75)); // short, into the six channels a window has

    // Whatever an earlier lap left, channels the block lacks come out silent.
    OverlapFifo lap (8, 0.0f);
    lap.write (ramp (0, 7));
    ASSERT_TRUE (readsRamp (lap, 7, 0, 7));
    lap.write (ramp (100, 5, 1));
    auto mono = ramp (500, 5); // all of it replaced
    ChannelSquareSums measured (1); // the others are copied, not summed
    ASSERT_TRUE (lap.readWindow (mono, 5, &measured));

    for (int c = 0; c < OverlapFifo::numChannels; ++c)
        EXPECT_EQ (mono.getSample (c, 4), c == 0 ? 104.0f : 0.0f) << "channel " << c;
}

TEST (OverlapFifo, SumsSquaresLikeTheWindowsRmsLevelWithEitherKernelAtAnyChannelCount)
{
    for (bool avx2 : { true, false })
    {
        SimdDispatch::setAvx2Allowed (avx2);

        // A read of 37 across the end of the ring: 24 and 13 samples, neither
        // a whole number of vector lanes.
        for (int channels = 1; channels <= OverlapFifo::numChannels; ++channels)
        {
            OverlapFifo fifo (64, 0.0f);
            fifo.write (ramp (0, 40, channels));
            ASSERT_TRUE (readsRamp (fifo, 40, 0, 40, channels));
            fifo.write (ramp (40, 37, channels));
            EXPECT_TRUE (readsRamp (fifo, 37, 40, 37, channels)) << channels << (avx2 ? " channels, AVX2" : " channels");
        }
    }

    SimdDispatch::setAvx2Allowed (true);
}
