#include <gtest/gtest.h>

#include "processor/OverlapFifo.h"
#include "processor/SimdDispatch.h"

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

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

    // Whatever an earlier lap left, channels the block lacks come out silent.
    OverlapFifo lap (8, 0.0f);
    lap.write (ramp (0, 7));
    ASSERT_TRUE (readsRamp (lap, 7, 0, 7));
    lap.write (ramp (100, 5, 1));
    juce::AudioSampleBuffer mono (OverlapFifo::numChannels, 5);
    ASSERT_TRUE (lap.readWindow (mono, 5));

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

TEST (OverlapFifo, AfterAResetOnlyNewAudioIsRead)
{
    OverlapFifo fifo (100, 0.75f);
    fifo.write (ramp (0, 50));
    fifo.reset();
    EXPECT_EQ (fifo.getNumReady(), 0);
    EXPECT_FALSE (readsRamp (fifo, 20, 0, 0));

    fifo.write (ramp (50, 10));
    fifo.write (ramp (60, 10));
    EXPECT_EQ (fifo.getNumReady(), 20);
    EXPECT_TRUE (readsRamp (fifo, 20, 50, 20));

    // A reset between looking and reading: the read is refused rather than
    // coming out short and padded with silence.
    fifo.write (ramp (70, 30));
    ASSERT_GE (fifo.getNumReady(), 20);
    fifo.reset();
    fifo.write (ramp (100, 5));
    EXPECT_FALSE (readsRamp (fifo, 20, 0, 0));
    EXPECT_EQ (fifo.getNumReady(), 5);
    EXPECT_TRUE (readsRamp (fifo, 5, 100, 5));

    // An empty block answers a reset too.
    fifo.reset();
    fifo.write (ramp (200, 0));
    EXPECT_EQ (fifo.getNumReady(), 0);

    // Stale audio keeps its room until the reader has caught up.
    OverlapFifo full (100, 0.75f);
    full.write (ramp (0, 99));
    full.reset();
    full.write (ramp (100, 10));
    EXPECT_EQ (full.getNumReady(), 0);
    full.write (ramp (200, 10));
    EXPECT_EQ (full.getNumReady(), 10);
}

//==============================================================================
namespace
{
    /** A writer pushes a numbered stream in blocks of random length, a reader
        takes windows flat out and checks each one, and (optionally) resets
        come from the writer's thread and a third one. Every sample carries its
        stream index, the low 20 bits in even channels and the rest in odd
        ones, so that torn or misaligned copies show. */
    struct StreamHarness
    {
        static constexpr int window = 480, capacity = 4 * window, hop = window / 4;

        explicit StreamHarness (bool withResets)
        {
            std::thread reader ([this, withResets] {
                juce::AudioSampleBuffer w (6, window);
                const auto indexAt = [&w] (int i) { return (juce::int64) w.getSample (1, i) * (1 << 20) + (juce::int64) w.getSample (0, i); };
                juce::int64 nextFirst = -1;
                int finishedBeforePrevious = -1;

                while (! stop)
                {
                    const auto stale = staleBelow.load();
                    const auto finishedBefore = finished.load();

                    if (fifo.getNumReady() < window)
                        std::this_thread::yield();
                    else if (! fifo.readWindow (w, window))
                        ++discarded;
                    else
                    {
                        ++accepted;
                        const auto first = indexAt (0);
                        // Each window starts a hop on from the last, unless a reset
                        // request began since the last one's read began.
                        bool torn = first < stale || (requests.load() == finishedBeforePrevious && (++checkedHops, first != nextFirst));

                        // Consecutive, or later where a block that did not fit was cut.
                        for (int i = 1; i < window; ++i)
                            for (int c = 2; c < 6; ++c)
                                torn = torn || w.getSample (c, i) != w.getSample (c % 2, i)
                                    || ! (indexAt (i) == indexAt (i - 1) + 1 || (withResets && indexAt (i) > indexAt (i - 1)));

                        if (torn && failure.empty())
                            failure = "a window from " + std::to_string (first) + " after a reset at " + std::to_string (stale)
                                    + ", expected from " + std::to_string (nextFirst);

                        nextFirst = indexAt (hop);
                        finishedBeforePrevious = finishedBefore;
                        readerAt = nextFirst;
                    }
                }
            });

            std::thread writer ([this, withResets] {
                std::mt19937 rng (1);
                juce::AudioSampleBuffer block;

                for (juce::int64 next = 0; ! stop; next += block.getNumSamples(), written = next)
                {
                    block.setSize (6, 1 + (int) (rng() % 256), false, false, true);

                    for (int i = 0; i < block.getNumSamples(); ++i)
                        for (int c = 0; c < 6; ++c)
                            block.setSample (c, i, (float) (c % 2 == 0 ? (next + i) & 0xfffff : (next + i) >> 20));

                    // As on a change of play state: reset just before writing.
                    if (withResets && rng() % 64 == 0)
                        resetBefore (next);

                    // Keep pace with the reader, so that without resets nothing is
                    // dropped; a reset may leave the estimate too high for a while.
                    for (int spins = 0; (! withResets || spins < 200) && ! stop && next - readerAt + block.getNumSamples() >= capacity; ++spins)
                        std::this_thread::yield();

                    fifo.write (block);
                }
            });

            std::mt19937 rng (2);

            for (const auto start = std::chrono::steady_clock::now();
                 std::chrono::steady_clock::now() - start < std::chrono::seconds (10) && (accepted < 2000 || (withResets && finished < 300));)
            {
                std::this_thread::sleep_for (std::chrono::microseconds (rng() % 1500));

                if (withResets)
                    resetBefore (written);
            }

            stop = true;
            reader.join();
            writer.join();
        }

        /** Every sample before index is stale from now on. */
        void resetBefore (juce::int64 index)
        {
            ++requests;
            fifo.reset();
            ++finished;

            for (auto s = staleBelow.load(); s < index && ! staleBelow.compare_exchange_weak (s, index);)
            {}
        }

        OverlapFifo fifo { capacity, 0.75f };
        std::atomic<bool> stop { false };
        std::atomic<juce::int64> written { 0 }, readerAt { 0 }, staleBelow { 0 };
        std::atomic<int> requests { 0 }, finished { 0 }, accepted { 0 };
        int discarded = 0, checkedHops = 0; // reader only
        std::string failure;
    };
}

TEST (OverlapFifoThreads, WindowsAreWholeAndInStepWhileBothThreadsRun)
{
    StreamHarness harness (false);
    EXPECT_EQ (harness.failure, "");
    EXPECT_GT (harness.accepted.load(), 200);
    EXPECT_EQ (harness.discarded, 0);
    EXPECT_EQ (harness.checkedHops, harness.accepted - 1);
}

TEST (OverlapFifoThreads, ResetsFromAnyThreadNeverLetStaleAudioThrough)
{
    StreamHarness harness (true);
    EXPECT_EQ (harness.failure, "");
    EXPECT_GT (harness.finished.load(), 100);
    EXPECT_GT (harness.checkedHops, 10);
}
