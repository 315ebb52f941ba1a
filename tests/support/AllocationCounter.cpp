#include "support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
    // Constant-initialised, so touching them inside an allocation function
    // never allocates by itself.
    thread_local bool counting = false;
    thread_local std::size_t allocationCount = 0;

    void noteAllocation() noexcept
    {
        if (counting)
            ++allocationCount;
    }
}

//==============================================================================
// The linker sends every malloc-family call from the statically linked code
// (ours, JUCE's, the tests') here first; see cmake/Tests.cmake.
extern "C"
{
    void* __real_malloc (std::size_t);
    void* __real_calloc (std::size_t, std::size_t);
    void* __real_realloc (void*, std::size_t);
    void* __real_aligned_alloc (std::size_t, std::size_t);
    int __real_posix_memalign (void**, std::size_t, std::size_t);

    void* __wrap_malloc (std::size_t size)
    {
        noteAllocation();
        return __real_malloc (size);
    }

    void* __wrap_calloc (std::size_t count, std::size_t size)
    {
        noteAllocation();
        return __real_calloc (count, size);
    }

    void* __wrap_realloc (void* p, std::size_t size)
    {
        noteAllocation();
        return __real_realloc (p, size);
    }

    void* __wrap_aligned_alloc (std::size_t alignment, std::size_t size)
    {
        noteAllocation();
        return __real_aligned_alloc (alignment, size);
    }

    int __wrap_posix_memalign (void** result, std::size_t alignment, std::size_t size)
    {
        noteAllocation();
        return __real_posix_memalign (result, alignment, size);
    }
}

//==============================================================================
// Replacements for every form of the global operator new and delete. They
// allocate straight from the C allocator (still visible to the sanitizers)
// and count once.
namespace
{
    void* tryAllocate (std::size_t size, std::size_t alignment) noexcept
    {
        if (size == 0)
            size = 1;

        if (alignment <= alignof (std::max_align_t))
            return __real_malloc (size);

        // aligned_alloc wants a size that is a multiple of the alignment.
        const auto rounded = (size + alignment - 1) / alignment * alignment;
        return __real_aligned_alloc (alignment, rounded);
    }

    void* allocate (std::size_t size, std::size_t alignment)
    {
        noteAllocation();

        for (;;)
        {
            if (auto* p = tryAllocate (size, alignment))
                return p;

            if (auto handler = std::get_new_handler())
                handler();
            else
                throw std::bad_alloc();
        }
    }

    void* allocateNothrow (std::size_t size, std::size_t alignment) noexcept
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

    constexpr auto defaultAlignment = alignof (std::max_align_t);
}

void* operator new (std::size_t size)                                        { return allocate (size, defaultAlignment); }
void* operator new[] (std::size_t size)                                      { return allocate (size, defaultAlignment); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept        { return allocateNothrow (size, defaultAlignment); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept      { return allocateNothrow (size, defaultAlignment); }

void* operator new (std::size_t size, std::align_val_t alignment)            { return allocate (size, static_cast<std::size_t> (alignment)); }
void* operator new[] (std::size_t size, std::align_val_t alignment)          { return allocate (size, static_cast<std::size_t> (alignment)); }

void* operator new (std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateNothrow (size, static_cast<std::size_t> (alignment));
}

void* operator new[] (std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateNothrow (size, static_cast<std::size_t> (alignment));
}

void operator delete (void* p) noexcept                                                      { std::free (p); }
void operator delete[] (void* p) noexcept                                                    { std::free (p); }
void operator delete (void* p, std::size_t) noexcept                                         { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept                                       { std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept                               { std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept                             { std::free (p); }
void operator delete (void* p, std::align_val_t) noexcept                                    { std::free (p); }
void operator delete[] (void* p, std::align_val_t) noexcept                                  { std::free (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept                       { std::free (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept                     { std::free (p); }
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept             { std::free (p); }
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept           { std::free (p); }

//==============================================================================
ScopedAllocationCounter::ScopedAllocationCounter() noexcept
    : countAtStart (allocationCount),
      wasCounting (counting)
{
    counting = true;
}

ScopedAllocationCounter::~ScopedAllocationCounter()
{
    counting = wasCounting;
}

std::size_t ScopedAllocationCounter::getCount() const noexcept
{
    return allocationCount - countAtStart;
}
