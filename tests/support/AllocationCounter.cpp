#include "support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
    // Constant-initialised, so touching them inside an allocation never allocates.
    thread_local bool counting = false;
    thread_local std::size_t allocationCount = 0;

    void note() noexcept { allocationCount += counting ? 1 : 0; }
}

// The linker sends every malloc-family call of the statically linked code
// (ours, JUCE's, the tests') here first; see cmake/Tests.cmake.
extern "C"
{
    void* __real_malloc (std::size_t);
    void* __real_calloc (std::size_t, std::size_t);
    void* __real_realloc (void*, std::size_t);
    void* __real_aligned_alloc (std::size_t, std::size_t);
    int __real_posix_memalign (void**, std::size_t, std::size_t);

    void* __wrap_malloc (std::size_t n)
    {
        note();
        return __real_malloc (n);
    }
    void* __wrap_calloc (std::size_t k, std::size_t n)
    {
        note();
        return __real_calloc (k, n);
    }
    void* __wrap_realloc (void* p, std::size_t n)
    {
        note();
        return __real_realloc (p, n);
    }
    void* __wrap_aligned_alloc (std::size_t a, std::size_t n)
    {
        note();
        return __real_aligned_alloc (a, n);
    }
    int __wrap_posix_memalign (void** p, std::size_t a, std::size_t n)
    {
        note();
        return __real_posix_memalign (p, a, n);
    }
}

// Every form of the global operator new counts once and takes its memory from
// the C allocator, so the sanitizers still see it; every delete frees it.
namespace
{
    void* allocate (std::size_t size, std::size_t alignment = alignof (std::max_align_t))
    {
        note();
        size = size == 0 ? 1 : size;
        auto* p = alignment <= alignof (std::max_align_t)
                    ? __real_malloc (size)
                    : __real_aligned_alloc (alignment, (size + alignment - 1) / alignment * alignment);

        if (p == nullptr)
            throw std::bad_alloc();

        return p;
    }

    void* allocateNothrow (std::size_t size, std::size_t alignment = alignof (std::max_align_t)) noexcept
    {
        try
        {
            return allocate (size, alignment);
        }
        catch (...)
        {
            return nullptr;
        }
    }
}

void* operator new (std::size_t n) { return allocate (n); }
void* operator new[] (std::size_t n) { return allocate (n); }
void* operator new (std::size_t n, const std::nothrow_t&) noexcept { return allocateNothrow (n); }
void* operator new[] (std::size_t n, const std::nothrow_t&) noexcept { return allocateNothrow (n); }
void* operator new (std::size_t n, std::align_val_t a) { return allocate (n, (std::size_t) a); }
void* operator new[] (std::size_t n, std::align_val_t a) { return allocate (n, (std::size_t) a); }
void* operator new (std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return allocateNothrow (n, (std::size_t) a); }
void* operator new[] (std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return allocateNothrow (n, (std::size_t) a); }

void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete (void* p, std::align_val_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::align_val_t) noexcept { std::free (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept { std::free (p); }
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free (p); }

ScopedAllocationCounter::ScopedAllocationCounter() noexcept
    : countAtStart (allocationCount), wasCounting (counting)
{
    counting = true;
}

ScopedAllocationCounter::~ScopedAllocationCounter() { counting = wasCounting; }

std::size_t ScopedAllocationCounter::getCount() const noexcept { return allocationCount - countAtStart; }
