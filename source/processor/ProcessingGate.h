#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <mutex>

/** Keeps the audio thread's block work apart from work that replaces or
    clears what a block uses (a new sample rate, a measurement reset).

    The audio thread never waits: while the gate is closed its blocks pass
    through unmeasured. The closing side, on a non-audio thread, waits for the
    block in flight to finish.
*/
class ProcessingGate final
{
public:
    ProcessingGate() = default;

    /** Audio thread: an entry that holds the gate open for one block. */
    class ScopedEntry final
    {
    public:
        explicit ScopedEntry (ProcessingGate& g) noexcept;
        ~ScopedEntry();

        bool entered() const noexcept { return wasEntered; }

    private:
        ProcessingGate& gate;
        bool wasEntered;

        JUCE_DECLARE_NON_COPYABLE (ScopedEntry)
    };

    /** Non-audio threads: closes the gate for its lifetime, once no block is
        in flight. Closings from several threads run one at a time. */
    class ScopedClosure final
    {
    public:
        explicit ScopedClosure (ProcessingGate& g);
        ~ScopedClosure();

    private:
        ProcessingGate& gate;
        std::lock_guard<std::mutex> closerLock;

        JUCE_DECLARE_NON_COPYABLE (ScopedClosure)
    };

private:
    std::atomic<int> blocksInFlight { 0 };
    std::atomic<bool> closed { false };
    std::mutex closers;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProcessingGate)
};
