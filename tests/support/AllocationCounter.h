#pragma once

#include <cstddef>

/** Counts the heap allocations that the current thread makes while an
    instance is alive. Allocations on other threads are not counted, so
    background threads cannot disturb a measurement of the audio path.

    Calls from the statically linked code (ours, JUCE's, the tests') to the
    global operator new in all its forms and to the C allocation functions
    that JUCE's buffers use are seen: the test executable is linked to wrap
    them. Calls made inside shared libraries are not.

    Scopes may nest; each one counts from its own start.
*/
struct ScopedAllocationCounter final
{
    ScopedAllocationCounter() noexcept;
    ~ScopedAllocationCounter();

    /** Allocations on this thread since this scope began. */
    std::size_t getCount() const noexcept;

    const std::size_t countAtStart;
    const bool wasCounting;
};
