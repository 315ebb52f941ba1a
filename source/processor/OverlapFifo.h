#pragma once

#include "processor/MeasurementConstants.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include "processor/ChannelSquareSums.h"

#include <atomic>
#include <cstdint>

/** Carries K-weighted audio from the audio thread to the loudness thread and
    cuts it into overlapping windows: each read copies a window and then moves
    on by the part of it that the next window does not share.

    One writer (write) and one reader (getNumReady, readWindow). The position
    arithmetic is juce::AbstractFifo's: one slot always stays empty, and a
    block that does not fit keeps only the beginning that does.

    reset() may come from any thread while the others are inside write() or
    readWindow(), so it never touches a position itself; it only counts a
    request. The writer answers at the start of its next write() by marking
    its write position: everything before the mark is stale. Until then
    nothing reads as ready. The reader, at its next call, moves its read
    position forward to the mark (never backwards), and a read that a request
    overtook while copying reports it, so that its window is thrown away. Each
    position keeps a single owner, neither thread ever waits for the other,
    and the read position never passes the write position.

    Stale samples keep their room until the reader has caught up with a
    reset, so a FIFO that was nearly full may drop blocks written meanwhile.
*/
class OverlapFifo final
{
public:
    static constexpr int numChannels = numChannelPositions;

    /** A ring of numChannels x capacity samples, holding at most capacity - 1.
        overlap is the fraction of a window that the next window shares. */
    OverlapFifo (int capacity, float overlap);

    /** Appends the block's first six channels (missing ones as silence);
        what does not fit is dropped. Writer only. */
    void write (const juce::AudioSampleBuffer& block);

    /** Answers reset requests now rather than at the next write, so that a
        reader that looks next can free the room the stale samples hold.
        Writer only. */
    void answerResets() noexcept;

    /** Samples ready to read; 0 while a reset waits for the writer. Reader only. */
    int getNumReady();

    /** Clears the destination, copies up to count ready samples into its
        first six channels and moves on by the hop of what was copied.

        If squareSums is given, the squares of its channels are added to it as
        they are copied.

        Returns false when a reset came since the reader last looked (pending,
        just applied, or arriving during the copy): the destination then holds
        nothing usable and must be discarded, and what getNumReady() said
        before no longer holds. Reader only.
    */
    bool readWindow (juce::AudioSampleBuffer& destination, int count,
                     ChannelSquareSums* squareSums = nullptr);

    /** Empties the FIFO: only audio written after this call is read again,
        and the next whole window is ready once that much new audio has come.
        Any thread; never blocks. */
    void reset();

private:
    /** Ring distance from one position forward to another. */
    int distance (int from, int to) const noexcept;

    enum class ResetState
    {
        none,
        pending,
        applied
    };

    /** Applies a reset the writer has answered, and gives the positions and
        the request count seen. */
    ResetState catchUpWithReset (int& read, int& written, std::uint32_t& requestsSeen);

    const int capacity;
    std::atomic<int> readPosition { 0 };
    std::atomic<int> writePosition { 0 };

    juce::AudioSampleBuffer buffer;
    // Both threads copy through these raw pointers: the buffer's own copy
    // methods update its "is clear" flag, which would be a data race here.
    float* const* ring = nullptr;

    const float overlap;

    std::atomic<std::uint32_t> resetRequests { 0 };
    // The writer's answer: the number of requests answered in the high half,
    // its write position at that moment in the low half, so the reader always
    // sees a matching pair.
    std::atomic<std::uint64_t> resetAnswer { 0 };
    std::uint32_t resetsApplied = 0; // reader only

    static_assert (std::atomic<std::uint64_t>::is_always_lock_free,
                   "the writer must not take a lock to answer a reset");

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OverlapFifo)
};
