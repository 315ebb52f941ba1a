#include "support/AllocationCounter.h"

#include <cstddef>

namespace
{
    // Constant-initialised, so touching them inside an allocation never allocates.
    thread_local bool counting = false;
    thread_local std::size_t allocationCount = 0;
}

// The linker sends every call of the statically linked code (ours, JUCE's,
// the tests') to the C allocators and to the global operator new here first;
// see cmake/Tests.cmake. The real functions then allocate, so the sanitizers
// see every allocation as before.
#define KELT_COUNTED(result, name, parameters, arguments) \
    result __real_##name parameters;                      \
    result __wrap_##name parameters                       \
    {                                                     \
        allocationCount += counting ? 1 : 0;              \
        return __real_##name arguments;                   \
    }

extern "C"
{
    KELT_COUNTED (void*, malloc, (std::size_t n), (n))
    KELT_COUNTED (void*, calloc, (std::size_t k, std::size_t n), (k, n))
    KELT_COUNTED (void*, realloc, (void* p, std::size_t n), (p, n))
    KELT_COUNTED (void*, aligned_alloc, (std::size_t a, std::size_t n), (a, n))
    KELT_COUNTED (int, posix_memalign, (void** p, std::size_t a, std::size_t n), (p, a, n))
    KELT_COUNTED (void*, _Znwm, (std::size_t n), (n))
    KELT_COUNTED (void*, _Znam, (std::size_t n), (n))
    KELT_COUNTED (void*, _ZnwmSt11align_val_t, (std::size_t n, std::size_t a), (n, a))
    KELT_COUNTED (void*, _ZnamSt11align_val_t, (std::size_t n, std::size_t a), (n, a))
    KELT_COUNTED (void*, _ZnwmRKSt9nothrow_t, (std::size_t n, const void* t), (n, t))
    KELT_COUNTED (void*, _ZnamRKSt9nothrow_t, (std::size_t n, const void* t), (n, t))
}

ScopedAllocationCounter::ScopedAllocationCounter() noexcept
    : countAtStart (allocationCount), wasCounting (counting)
{
    counting = true;
}

ScopedAllocationCounter::~ScopedAllocationCounter() { counting = wasCounting; }

std::size_t ScopedAllocationCounter::getCount() const noexcept { return allocationCount - countAtStart; }
