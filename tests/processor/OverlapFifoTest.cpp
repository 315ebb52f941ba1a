#include <gtest/gtest.h>

#include "processor/OverlapFifo.h"

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
    /** Channel c of the block holds start + i + 1000 c at sample i. */
    juce::AudioSampleBuffer makeRamp (int start, int length, int channels = OverlapFifo::numChannels)
    {
        juce::AudioSampleBuffer block (channels, length);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < length; ++i)
                block.setSample (c, i, static_cast<float> (start + i + 1000 * c));
        return block;
    }

    juce::AudioSampleBuffer makeDestination (int length, int channels = OverlapFifo::numChannels)
    {
        juce::AudioSampleBuffer destination (channels, length);
        for (int c = 0; c < channels; ++c)
            juce::FloatVectorOperations::fill (destination.getWritePointer (c), -1.0f, length);
        return destination;
    }

    /** The ramp from start in the first `length` samples of the first six
        channels, and zeros everywhere else. */
    ::testing::AssertionResult holdsRamp (const juce::AudioSampleBuffer& destination, int start, int length)
    {
        for (int c = 0; c < destination.getNumChannels(); ++c)
            for (int i = 0; i < destination.getNumSamples(); ++i)
            {
                const auto expected = i < length && c < OverlapFifo::numChannels
                                          ? static_cast<float> (start + i + 1000 * c) : 0.0f;
                if (destination.getSample (c, i) != expected)
                    return ::testing::AssertionFailure() << "channel " << c << " sample " << i << " is "
                                                         << destination.getSample (c, i) << ", not " << expected;
            }

        return ::testing::AssertionSuccess();
    }
}

TEST (OverlapFifo, HoldsOneLessThanItsCapacityAndKeepsTheBeginningOfWhatDoesNotFit)
{
    OverlapFifo fifo (100, 0.75f);
    fifo.write (makeRamp (0, 60));
    fifo.write (makeRamp (60, 50));    // free space 40: the first 39 fit
    EXPECT_EQ (fifo.getNumReady(), 99);
    fifo.write (makeRamp (500, 10));   // full: dropped whole
    EXPECT_EQ (fifo.getNumReady(), 99);

    auto destination = makeDestination (99);
    EXPECT_TRUE (fifo.readWindow (destination, 99));
    EXPECT_TRUE (holdsRamp (destination, 0, 99));
    EXPECT_EQ (fifo.getNumReady(), 99 - 24);

    OverlapFifo small (16, 0.0f);
    small.write (makeRamp (0, 40));
    EXPECT_EQ (small.getNumReady(), 15);
}

TEST (OverlapFifo, SplitsCopiesAtTheEndOfTheRing)
{
    OverlapFifo fifo (8, 0.0f);   // no overlap: a read moves on by all it copied
    auto check = [&fifo] (int start, int length)
    {
        auto destination = makeDestination (length);
        EXPECT_EQ (fifo.getNumReady(), length);
        EXPECT_TRUE (fifo.readWindow (destination, length));
        EXPECT_TRUE (holdsRamp (destination, start, length));
    };

    fifo.write (makeRamp (0, 6));
    check (0, 6);
    fifo.write (makeRamp (6, 5));    // positions 6, 7 and 0 .. 2
    check (6, 5);
    fifo.write (makeRamp (11, 5));   // 3 .. 7, ending on the ring's end
    fifo.write (makeRamp (16, 2));   // 0, 1
    check (11, 7);
    fifo.write (makeRamp (18, 6));   // 2 .. 7, a read ending on the ring's end
    check (18, 6);
    fifo.write (makeRamp (24, 7));
    check (24, 7);
}

TEST (OverlapFifo, ShortReadsZeroTheRestAndOnlySixChannelsTravel)
{
    OverlapFifo fifo (64, 0.75f);
    fifo.write (makeRamp (0, 4, 8));   // the seventh and eighth channel are ignored

    auto ten = makeDestination (10, 8);
    EXPECT_TRUE (fifo.readWindow (ten, 10));
    EXPECT_TRUE (holdsRamp (ten, 0, 4));
    EXPECT_EQ (fifo.getNumReady(), 3);   // moved on by floor (0.25 * 4)

    // A count beyond the destination copies no more than it holds.
    fifo.write (makeRamp (4, 20));
    auto five = makeDestination (5, 2);
    EXPECT_TRUE (fifo.readWindow (five, 100));
    EXPECT_TRUE (holdsRamp (five, 1, 5));
    EXPECT_EQ (fifo.getNumReady(), 22);
    EXPECT_TRUE (fifo.readWindow (five, -3));
    EXPECT_TRUE (holdsRamp (five, 0, 0));
    EXPECT_EQ (fifo.getNumReady(), 22);

    // A mono block over ring positions that held six channels leaves the
    // other five silent.
    OverlapFifo lap (8, 0.0f);
    auto seven = makeDestination (7);
    lap.write (makeRamp (0, 7));
    ASSERT_TRUE (lap.readWindow (seven, 7));
    lap.write (makeRamp (100, 5, 1));
    auto mono = makeDestination (5);
    ASSERT_TRUE (lap.readWindow (mono, 5));
    for (int c = 0; c < OverlapFifo::numChannels; ++c)
        EXPECT_EQ (mono.getSample (c, 4), c == 0 ? 104.0f : 0.0f) << "channel " << c;
}

TEST (OverlapFifo, SumsTheSquaresOfWhatItCopiesAsTheWindowsRmsLevel)
{
    OverlapFifo fifo (8, 0.5f);
    fifo.write (makeRamp (0, 6));
    auto first = makeDestination (6);
    ASSERT_TRUE (fifo.readWindow (first, 6));   // moves on by 3

    // Ring positions 3 .. 7 and then 0, 1: the copy comes in two pieces,
    // into a window longer than what is ready.
    fifo.write (makeRamp (6, 4));
    auto window = makeDestination (9, 8);
    ChannelSquareSums sums (3);
    ASSERT_TRUE (fifo.readWindow (window, 9, &sums));
    ASSERT_TRUE (holdsRamp (window, 3, 7));

    for (int c = 0; c < 3; ++c)
        EXPECT_EQ (sums.getRMSLevel (c, window.getNumSamples()), window.getRMSLevel (c, 0, window.getNumSamples()))
            << "channel " << c;

    EXPECT_EQ (sums.getSum (3), 0.0);   // copied, not summed
}

TEST (OverlapFifo, HopsByTheUnsharedPartOfEachWindowAtEveryRate)
{
    struct Rate { float rate; int momentaryHop, shortTermHop; };

    for (auto r : { Rate { 44100.0f, 4410, 26459 },   Rate { 48000.0f, 4800, 28799 },
                    Rate { 88200.0f, 8820, 52919 },   Rate { 96000.0f, 9600, 57599 },
                    Rate { 176400.0f, 17640, 105839 }, Rate { 192000.0f, 19200, 115199 } })
    {
        struct Window { int length; float overlap; int hop; };

        for (auto w : { Window { static_cast<int> (std::floor (r.rate * 0.4f)), 0.75f, r.momentaryHop },
                        Window { static_cast<int> (std::floor (r.rate * 3.0f)), 0.8f, r.shortTermHop } })
        {
            OverlapFifo fifo (4 * w.length, w.overlap);
            juce::AudioSampleBuffer block (1, w.length);
            block.clear();
            fifo.write (block);
            fifo.write (block);

            for (int read = 1; read <= 2; ++read)
            {
                ASSERT_TRUE (fifo.readWindow (block, w.length));
                EXPECT_EQ (fifo.getNumReady(), 2 * w.length - read * w.hop) << r.rate << " Hz, " << w.length;
            }
        }
    }
}

TEST (OverlapFifo, AfterAResetOnlyNewAudioIsReady)
{
    OverlapFifo fifo (100, 0.75f);
    auto destination = makeDestination (20);

    fifo.write (makeRamp (0, 50));
    fifo.reset();
    EXPECT_EQ (fifo.getNumReady(), 0);
    EXPECT_FALSE (fifo.readWindow (destination, 20));   // nothing copied, nothing moved
    EXPECT_TRUE (holdsRamp (destination, 0, 0));

    fifo.write (makeRamp (50, 10));
    fifo.write (makeRamp (60, 10));
    EXPECT_EQ (fifo.getNumReady(), 20);
    EXPECT_TRUE (fifo.readWindow (destination, 20));
    EXPECT_TRUE (holdsRamp (destination, 50, 20));

    // A reset between looking and reading: the read is refused rather than
    // coming out short and padded with silence.
    fifo.write (makeRamp (70, 30));
    ASSERT_GE (fifo.getNumReady(), 20);
    fifo.reset();
    fifo.write (makeRamp (100, 5));
    EXPECT_FALSE (fifo.readWindow (destination, 20));
    EXPECT_TRUE (holdsRamp (destination, 0, 0));
    EXPECT_EQ (fifo.getNumReady(), 5);
    EXPECT_TRUE (fifo.readWindow (destination, 5));
    EXPECT_TRUE (holdsRamp (destination, 100, 5));

    // An empty block answers a reset too.
    fifo.reset();
    fifo.write (makeRamp (200, 0));
    EXPECT_EQ (fifo.getNumReady(), 0);

    // Stale audio keeps its room until the reader has caught up.
    OverlapFifo full (100, 0.75f);
    full.write (makeRamp (0, 99));
    full.reset();
    full.write (makeRamp (100, 10));
    EXPECT_EQ (full.getNumReady(), 0);
    full.write (makeRamp (200, 10));
    EXPECT_EQ (full.getNumReady(), 10);
}

//==============================================================================
namespace
{
    /** A writer pushes a numbered stream and a reader takes windows flat out
        and checks each one, optionally while resets come from the writer's
        thread and from a third thread.

        Every sample carries its stream index (low 20 bits in channel 0, the
        rest in channel 1) and its offset in its block (channel 2); channels
        3 to 5 repeat 0 to 2, so torn or misaligned copies show. */
    class StreamHarness
    {
    public:
        static constexpr int window = 480, capacity = 4 * window, hop = window / 4;

        StreamHarness (bool withResetsToUse, std::chrono::milliseconds duration)
            : withResets (withResetsToUse)
        {
            std::thread reader ([this] { readLoop(); }), writer ([this] { writeLoop(); }), resetter;

            if (withResets)
                resetter = std::thread ([this] { resetLoop(); });

            // At least the given time, and longer on a slow or loaded machine
            // until enough windows (and resets) have gone through.
            const auto start = std::chrono::steady_clock::now();
            const auto enough = [this] { return acceptedWindows.load() > 200 && (! withResets || resets.load() > 200); };

            while (std::chrono::steady_clock::now() - start < duration
                   || (! enough() && std::chrono::steady_clock::now() - start < 10 * duration))
                std::this_thread::sleep_for (std::chrono::milliseconds (10));

            stop = true;

            for (auto* t : { &writer, &reader, &resetter })
                if (t->joinable())
                    t->join();
        }

        std::vector<std::string> failures;
        std::atomic<int> acceptedWindows { 0 };
        int discardedWindows = 0, checkedHops = 0;   // reader only
        std::atomic<int> resets { 0 };

    private:
        static juce::int64 indexAt (const juce::AudioSampleBuffer& b, int i)
        {
            return static_cast<juce::int64> (b.getSample (1, i)) * (1 << 20) + static_cast<juce::int64> (b.getSample (0, i));
        }

        void fail (const std::string& message)
        {
            if (failures.size() < 10)
                failures.push_back (message);
        }

        /** Every sample before `index` is stale from now on. */
        void resetBefore (juce::int64 index)
        {
            ++requestsStarted;
            fifo.reset();
            ++requestsFinished;
            ++resets;

            for (auto s = staleBelow.load(); s < index && ! staleBelow.compare_exchange_weak (s, index);) {}
        }

        void writeLoop()
        {
            std::mt19937 rng (1);
            juce::AudioSampleBuffer block;

            for (juce::int64 next = 0; ! stop;)
            {
                const auto length = 1 + static_cast<int> (rng() % 256);
                block.setSize (OverlapFifo::numChannels, length, false, false, true);

                for (int i = 0; i < length; ++i)
                    for (int c : { 0, 3 })
                    {
                        block.setSample (c, i, static_cast<float> ((next + i) & 0xfffff));
                        block.setSample (c + 1, i, static_cast<float> ((next + i) >> 20));
                        block.setSample (c + 2, i, static_cast<float> (i));
                    }

                // As on a change of play state: reset just before writing.
                if (withResets && rng() % 64 == 0)
                    resetBefore (next);

                // Keep pace with the reader. Without resets the estimate is
                // exact and nothing is dropped; a reset can leave it too high
                // for a while, so then blocks that do not fit are dropped.
                for (int spins = 0; (! withResets || spins < 200) && ! stop
                                    && next - readerAt.load() + length >= capacity; ++spins)
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

        void readLoop()
        {
            juce::AudioSampleBuffer windowBuffer (OverlapFifo::numChannels, window);
            juce::int64 nextFirst = -1;   // where the next window starts, if no reset comes between
            int finishedBeforePrevious = -1;

            while (! stop)
            {
                const auto stale = staleBelow.load();
                const auto ready = fifo.getNumReady();

                if (ready >= capacity)
                    fail ("ready count " + std::to_string (ready));

                if (ready < window)
                {
                    std::this_thread::yield();
                    continue;
                }

                const auto finishedBefore = requestsFinished.load();

                if (! fifo.readWindow (windowBuffer, window))
                {
                    ++discardedWindows;
                    continue;
                }

                ++acceptedWindows;
                const auto first = indexAt (windowBuffer, 0);

                if (first < stale)
                    fail ("window from " + std::to_string (first) + " after a reset at " + std::to_string (stale));

                if (requestsStarted.load() == finishedBeforePrevious)
                {
                    ++checkedHops;
                    if (first != nextFirst)
                        fail ("window from " + std::to_string (first) + ", not " + std::to_string (nextFirst));
                }

                for (int i = 1; i < window; ++i)
                {
                    const auto v = indexAt (windowBuffer, i), previous = indexAt (windowBuffer, i - 1);
                    const auto offset = windowBuffer.getSample (2, i);
                    const bool same = windowBuffer.getSample (0, i) == windowBuffer.getSample (3, i)
                                   && windowBuffer.getSample (1, i) == windowBuffer.getSample (4, i)
                                   && offset == windowBuffer.getSample (5, i);

                    // Consecutive, or the start of a later block where one
                    // that did not fit was cut short.
                    const bool next = v == previous + 1 && (offset == 0.0f || offset == windowBuffer.getSample (2, i - 1) + 1.0f);
                    const bool cut = withResets && v > previous + 1 && offset == 0.0f;

                    if (! same || ! (next || cut))
                    {
                        fail ("sample " + std::to_string (i) + " is " + std::to_string (v) + " after " + std::to_string (previous));
                        break;
                    }
                }

                nextFirst = indexAt (windowBuffer, hop);
                finishedBeforePrevious = finishedBefore;
                readerAt = nextFirst;
            }
        }

        const bool withResets;
        OverlapFifo fifo { capacity, 0.75f };
        std::atomic<bool> stop { false };
        std::atomic<juce::int64> written { 0 }, readerAt { 0 }, staleBelow { 0 };
        std::atomic<int> requestsStarted { 0 }, requestsFinished { 0 };
    };
}

TEST (OverlapFifoThreads, WindowsAreContiguousWhileBothThreadsRun)
{
    StreamHarness harness (false, std::chrono::milliseconds (1000));

    for (const auto& f : harness.failures)
        ADD_FAILURE() << f;

    EXPECT_GT (harness.acceptedWindows, 100);
    EXPECT_EQ (harness.discardedWindows, 0);
    EXPECT_EQ (harness.checkedHops, harness.acceptedWindows - 1);
}

TEST (OverlapFifoThreads, ResetsFromAnyThreadNeverLetStaleAudioThrough)
{
    StreamHarness harness (true, std::chrono::milliseconds (3000));

    for (const auto& f : harness.failures)
        ADD_FAILURE() << f;

    EXPECT_GT (harness.acceptedWindows, 100);
    EXPECT_GT (harness.resets.load(), 100);
    EXPECT_GT (harness.checkedHops, 10);
}
