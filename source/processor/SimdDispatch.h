#pragma once

/** Chooses between the portable kernels and the AVX2 ones at run time, so
    that one binary serves every x86-64 processor.

    Kernels built for AVX2 carry KELT_TARGET_AVX2 and exist only where
    KELT_HAVE_AVX2_KERNELS is 1; their results are bit for bit those of the
    portable kernels, only faster.
*/
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define KELT_HAVE_AVX2_KERNELS 1
#define KELT_TARGET_AVX2 __attribute__ ((target ("avx2")))
#else
#define KELT_HAVE_AVX2_KERNELS 0
#define KELT_TARGET_AVX2
#endif

class SimdDispatch final
{
public:
    /** True when the AVX2 kernels exist, the processor runs them and they
        have not been turned off. */
    static bool useAvx2() noexcept;

    /** Turns the AVX2 kernels off or back on, so that tests can check the
        portable kernels on any machine. */
    static void setAvx2Allowed (bool allowed) noexcept;

    SimdDispatch() = delete;
};
