#pragma once

#include <cstddef>

/** Counts the heap allocations that the current thread makes while an
    instance is alive. Allocations on other threads are not counted, so
    background threads cannot disturb a measurement of the audio path.

    Both routes are seen: the global operator new in all its forms, replaced
    for the test executable, and the C allocation functions (malloc, calloc,
    realloc, aligned_alloc, posix_memalign) that JUCE's buffers use, which the
    test executable is linked to wrap. Calls made inside shared libraries
    other than through operator new are not seen.

    Scopes may nest; each one counts from its own start.
*/
class ScopedAllocationCounter final
{
public:
    ScopedAllocationCounter() noexcept;
    ~ScopedAllocationCounter();

    /** Allocations on this thread since this scope began. */
    std::size_t getCount() const noexcept;

    ScopedAllocationCounter (const ScopedAllocationCounter&) = delete;
    ScopedAllocationCounter& operator= (const ScopedAllocationCounter&) = delete;

private:
    std::size_t countAtStart;
    bool wasCounting;
};
