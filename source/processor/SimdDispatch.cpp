#include "processor/SimdDispatch.h"

#include <atomic>

namespace
{
    bool processorHasAvx2() noexcept
    {
#if KELT_HAVE_AVX2_KERNELS
        __builtin_cpu_init();
        return __builtin_cpu_supports ("avx2") != 0;
#else
        return false;
#endif
    }

    std::atomic<bool> avx2Allowed { true };
}

bool SimdDispatch::useAvx2() noexcept
{
    static const bool available = processorHasAvx2();
    return available && avx2Allowed.load (std::memory_order_relaxed);
}

void SimdDispatch::setAvx2Allowed (bool allowed) noexcept
{
    avx2Allowed.store (allowed, std::memory_order_relaxed);
}
