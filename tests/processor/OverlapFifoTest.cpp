#include <gtest/gtest.h>

#include "processor/OverlapFifo.h"
#include "processor/SimdDispatch.h"
#include "support/TestAudio.h"

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
    fifo.write (ramp (60, 50));    // one slot stays empty: the first 39 fit
    fifo.write (ramp (500, 10));   // full: dropped whole
    EXPECT_EQ (fifo.getNumReady(), 99);
    EXPECT_TRUE (readsRamp (fifo, 40, 0, 40));
    EXPECT_EQ (fifo.getNumReady(), 89);   // on by the 10 the next window does not share

    // Copies split at the end of the ring, and a short read zeroes the rest.
    EXPECT_TRUE (readsRamp (fifo, 80, 10, 80));
    fifo.write (ramp (99, 70));   // 30 fit
    EXPECT_EQ (fifo.getNumReady(), 99);
    EXPECT_TRUE (readsRamp (fifo, 300, 30, 99, 8, 150));   // no more than is ready, nor than six channels
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

TEST (OverlapFifo, SquaresAddUpAsTheWindowsRmsLevelWithEitherKernel)
{
    std::mt19937 rng (5);
    std::uniform_real_distribution<float> mantissa (-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent (-135, 12);   // every addition rounds differently

    for (bool avx2 : { true, false })
    {
        SimdDispatch::setAvx2Allowed (avx2);

        for (int channels = 1; channels <= ChannelSquareSums::maxChannels; ++channels)
        {
            for (int length : { 1, 7, 8, 9, 1001 })
            {
                juce::AudioSampleBuffer source (channels, length), copy (channels, length + 100);
                copy.clear();

                for (int c = 0; c < channels; ++c)
                    for (int i = 0; i < length; ++i)
                        source.setSample (c, i, std::ldexp (mantissa (rng), exponent (rng)));

                // In two pieces, as a read across the end of the ring copies them.
                ChannelSquareSums sums (channels);
                const auto split = length / 2;
                sums.copyAndAdd (source.getArrayOfReadPointers(), copy.getArrayOfWritePointers(), channels, split);
                const float* in[6];
                float* out[6];

                for (int c = 0; c < channels; ++c)
                {
                    in[c] = source.getReadPointer (c, split);
                    out[c] = copy.getWritePointer (c, split);
                }

                sums.copyAndAdd (in, out, channels, length - split);

                for (int c = 0; c < channels; ++c)
                    EXPECT_EQ (sums.getRMSLevel (c, length + 100), copy.getRMSLevel (c, 0, length + 100))
                        << (avx2 ? "AVX2, " : "portable, ") << channels << " channels, " << length << " samples";

                EXPECT_TRUE (TestAudio::sameBits (source, copy, channels, length));
            }
        }
    }

    SimdDispatch::setAvx2Allowed (true);
}

//==============================================================================
namespace
{
    /** A writer pushes a numbered stream in blocks of random length, a reader
        takes windows flat out and checks each one, and (optionally) resets
        come from the writer's thread and a third one. Every sample carries its
        stream index, the low 20 bits in channel 0 and the rest in channel 1,
        copied into channels 2 to 5, so that torn or misaligned copies show. */
    class StreamHarness
    {
    public:
        static constexpr int window = 480, capacity = 4 * window, hop = window / 4;

        explicit StreamHarness (bool withResetsToUse) : withResets (withResetsToUse)
        {
            std::thread reader ([this] { readLoop(); }), writer ([this] { writeLoop(); }), resetter;

            if (withResets)
                resetter = std::thread ([this] { resetLoop(); });

            const auto start = std::chrono::steady_clock::now();

            while (std::chrono::steady_clock::now() - start < std::chrono::seconds (10)
                   && (acceptedWindows.load() < 2000 || (withResets && resets.load() < 300)))
                std::this_thread::sleep_for (std::chrono::milliseconds (10));

            stop = true;

            for (auto* t : { &writer, &reader, &resetter })
                if (t->joinable())
                    t->join();
        }

        std::string failure;   // the first, reader only
        std::atomic<int> acceptedWindows { 0 }, resets { 0 };
        int discardedWindows = 0, checkedHops = 0;

    private:
        static juce::int64 indexAt (const juce::AudioSampleBuffer& b, int i)
        {
            return (juce::int64) b.getSample (1, i) * (1 << 20) + (juce::int64) b.getSample (0, i);
        }

        void resetBefore (juce::int64 index)
        {
            ++requestsStarted;
            fifo.reset();
            ++resets;

            for (auto s = staleBelow.load(); s < index && ! staleBelow.compare_exchange_weak (s, index);) {}
        }

        void writeLoop()
        {
            std::mt19937 rng (1);
            juce::AudioSampleBuffer block;

            for (juce::int64 next = 0; ! stop;)
            {
                const auto length = 1 + (int) (rng() % 256);
                block.setSize (OverlapFifo::numChannels, length, false, false, true);

                for (int i = 0; i < length; ++i)
                    for (int c = 0; c < OverlapFifo::numChannels; ++c)
                        block.setSample (c, i, (float) (c % 2 == 0 ? (next + i) & 0xfffff : (next + i) >> 20));

                // As on a change of play state: reset just before writing.
                if (withResets && rng() % 64 == 0)
                    resetBefore (next);

                // Keep pace with the reader, so that without resets nothing is
                // dropped; a reset may leave the estimate too high for a while.
                for (int spins = 0; (! withResets || spins < 200) && ! stop && next - readerAt.load() + length >= capacity; ++spins)
                    std::this_thread::yield();

                fifo.write (block);
                next += length;
                written = next;
            }
        }

        void resetLoop()
        {
            std::mt19937 rng (2);

            while (! stop)
            {
                std::this_thread::sleep_for (std::chrono::microseconds (rng() % 1500));
                resetBefore (written.load());
            }
        }

        void fail (const std::string& what)
        {
            if (failure.empty())
                failure = what;
        }

        void readLoop()
        {
            juce::AudioSampleBuffer windowBuffer (OverlapFifo::numChannels, window);
            juce::int64 nextFirst = -1;
            int requestsBeforePrevious = -1;

            while (! stop)
            {
                const auto stale = staleBelow.load();
                const auto requestsBefore = requestsStarted.load();

                if (fifo.getNumReady() < window)
                {
                    std::this_thread::yield();
                    continue;
                }

                if (! fifo.readWindow (windowBuffer, window))
                {
                    ++discardedWindows;
                    continue;
                }

                ++acceptedWindows;
                const auto first = indexAt (windowBuffer, 0);

                if (first < stale)
                    fail ("a window from " + std::to_string (first) + " after a reset at " + std::to_string (stale));

                // Without a reset in between, each window starts one hop on.
                if (requestsBefore == requestsBeforePrevious)
                {
                    ++checkedHops;

                    if (first != nextFirst)
                        fail ("a window from " + std::to_string (first) + ", not " + std::to_string (nextFirst));
                }

                for (int i = 1; i < window; ++i)
                {
                    const auto v = indexAt (windowBuffer, i), previous = indexAt (windowBuffer, i - 1);
                    bool torn = false;

                    for (int c = 2; c < OverlapFifo::numChannels; ++c)
                        torn = torn || windowBuffer.getSample (c, i) != windowBuffer.getSample (c % 2, i);

                    // Consecutive, or later where a block that did not fit was cut.
                    if (torn || ! (v == previous + 1 || (withResets && v > previous)))
                        fail ("sample " + std::to_string (v) + " after " + std::to_string (previous));
                }

                nextFirst = indexAt (windowBuffer, hop);
                requestsBeforePrevious = requestsStarted.load() == requestsBefore ? requestsBefore : -1;
                readerAt = nextFirst;
            }
        }

        const bool withResets;
        OverlapFifo fifo { capacity, 0.75f };
        std::atomic<bool> stop { false };
        std::atomic<juce::int64> written { 0 }, readerAt { 0 }, staleBelow { 0 };
        std::atomic<int> requestsStarted { 0 };
    };
}

TEST (OverlapFifoThreads, WindowsAreWholeAndInStepWhileBothThreadsRun)
{
    StreamHarness harness (false);
    EXPECT_EQ (harness.failure, "");
    EXPECT_GE (harness.acceptedWindows.load(), 2000);
    EXPECT_EQ (harness.discardedWindows, 0);
    EXPECT_EQ (harness.checkedHops, harness.acceptedWindows - 1);
}

TEST (OverlapFifoThreads, ResetsFromAnyThreadNeverLetStaleAudioThrough)
{
    StreamHarness harness (true);
    EXPECT_EQ (harness.failure, "");
    EXPECT_GT (harness.resets.load(), 100);
    EXPECT_GT (harness.checkedHops, 10);
}
