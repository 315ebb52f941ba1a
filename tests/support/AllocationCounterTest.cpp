#include <gtest/gtest.h>

#include "support/AllocationCounter.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

TEST (AllocationCounter, CountsEveryFormOnThisThreadOnly)
{
    ScopedAllocationCounter outer;

    {
        ScopedAllocationCounter inner;
        auto single = std::make_unique<int> (1);
        auto array = std::make_unique<int[]> (8);
        std::unique_ptr<int> nothrow (new (std::nothrow) int (2));

        struct alignas (64) Aligned { char bytes[64]; };
        auto aligned = std::make_unique<Aligned>();
        EXPECT_EQ (reinterpret_cast<std::uintptr_t> (aligned.get()) % 64, 0u);

        EXPECT_EQ (inner.getCount(), 4u);
    }

    // The inner scope's end leaves the outer one counting.
    auto afterInner = std::make_unique<double> (1.0);
    EXPECT_EQ (outer.getCount(), 5u);

    // Another thread's allocations are not ours; starting the thread itself
    // allocates here, so count from after that.
    std::thread other ([] { std::vector<int> v (1000); v[0] = 1; });
    const auto beforeJoin = outer.getCount();
    other.join();
    EXPECT_EQ (outer.getCount(), beforeJoin);
}

TEST (AllocationCounter, SeesTheCAllocationsOfJuceBuffers)
{
    juce::AudioBuffer<float> buffer (6, 64);
    ScopedAllocationCounter allocations;

    buffer.setSize (6, 32, false, false, true);
    EXPECT_EQ (allocations.getCount(), 0u);

    buffer.setSize (6, 16);
    EXPECT_EQ (allocations.getCount(), 1u);

    // Kept in volatile storage so the compiler cannot drop the pairs.
    void* volatile p = std::malloc (10);
    p = std::realloc (p, 20);
    std::free (p);
    p = std::calloc (2, 8);
    std::free (p);
    EXPECT_EQ (allocations.getCount(), 4u);
}
