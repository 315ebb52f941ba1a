#include "processor/KWeightingFilter.h"

#include "processor/SimdDispatch.h"

#include <cmath>
#include <cstring>

#if defined(__GNUC__)
#define KELT_ALWAYS_INLINE inline __attribute__ ((always_inline))
#else
#define KELT_ALWAYS_INLINE inline
#endif

namespace
{
    constexpr int maxLanes = 8;

    /** Coefficients c0 to c4 and state s1, s2 of one stage, lane by lane. */
    enum Field
    {
        c0,
        c1,
        c2,
        c3,
        c4,
        s1,
        s2,
        numFields
    };

    struct CascadeLanes
    {
        float pre[numFields][maxLanes];
        float rlb[numFields][maxLanes];
    };

#if defined(__GNUC__)
    // GCC/Clang vector extensions: plain IEEE single-precision arithmetic per
    // lane, the same as scalar code. Four lanes fill one register on every
    // target; eight fill one AVX register.
    typedef float Quad __attribute__ ((vector_size (16)));
    typedef float Octet __attribute__ ((vector_size (32)));

    /** numChannels channels from firstChannel on, one lane each. Everything
        here is inlined into the kernel that uses it, so it is built for that
        kernel's instruction set. */
    template <typename Vector, size_t numChannels>
    struct LaneGroup
    {
        struct Stage
        {
            Vector c[5], s1, s2;
        };

        Stage pre, rlb;
        const float* in[numChannels];
        float* out[numChannels];
        const size_t firstChannel;

        KELT_ALWAYS_INLINE LaneGroup (const CascadeLanes& state, const float* const* input, float* const* output,
                                      size_t first) noexcept
            : firstChannel (first)
        {
            load (pre, state.pre);
            load (rlb, state.rlb);

            for (size_t c = 0; c < numChannels; ++c)
            {
                in[c] = input[firstChannel + c];
                out[c] = output[firstChannel + c];
            }
        }

        KELT_ALWAYS_INLINE void load (Stage& stage, const float (&fields)[numFields][maxLanes]) noexcept
        {
            for (int f = c0; f <= c4; ++f)
                std::memcpy (&stage.c[f], fields[f] + firstChannel, sizeof (Vector));

            std::memcpy (&stage.s1, fields[s1] + firstChannel, sizeof (Vector));
            std::memcpy (&stage.s2, fields[s2] + firstChannel, sizeof (Vector));
        }

        KELT_ALWAYS_INLINE void store (CascadeLanes& state) const noexcept
        {
            // Only this group's lanes: the others belong to the next group.
            for (size_t c = 0; c < numChannels; ++c)
            {
                state.pre[s1][firstChannel + c] = pre.s1[c];
                state.pre[s2][firstChannel + c] = pre.s2[c];
                state.rlb[s1][firstChannel + c] = rlb.s1[c];
                state.rlb[s2][firstChannel + c] = rlb.s2[c];
            }
        }

        KELT_ALWAYS_INLINE void step (int i) noexcept
        {
            Vector x {};

            for (size_t c = 0; c < numChannels; ++c)
                x[c] = in[c][i];

            // The recurrence of juce::IIRFilter::processSamples, operation for
            // operation: any other order would change the results.
            const Vector y = pre.c[c0] * x + pre.s1;
            pre.s1 = pre.c[c1] * x - pre.c[c3] * y + pre.s2;
            pre.s2 = pre.c[c2] * x - pre.c[c4] * y;

            const Vector z = rlb.c[c0] * y + rlb.s1;
            rlb.s1 = rlb.c[c1] * y - rlb.c[c3] * z + rlb.s2;
            rlb.s2 = rlb.c[c2] * y - rlb.c[c4] * z;

            for (size_t c = 0; c < numChannels; ++c)
                out[c][i] = z[c];
        }
    };

    /** The channels in groups as wide as the vector, all groups stepping
        through the samples together. */
    template <typename Vector, size_t numChannels>
    KELT_ALWAYS_INLINE void cascade (CascadeLanes& state, const float* const* input, float* const* output,
                                     int numSamples) noexcept
    {
        constexpr size_t lanes = sizeof (Vector) / sizeof (float);
        constexpr size_t firstGroup = numChannels < lanes ? numChannels : lanes;
        constexpr size_t secondGroup = numChannels - firstGroup;
        static_assert (secondGroup <= lanes, "at most two groups");

        LaneGroup<Vector, firstGroup> low (state, input, output, 0);

        if constexpr (secondGroup > 0)
        {
            LaneGroup<Vector, secondGroup> high (state, input, output, lanes);

            for (int i = 0; i < numSamples; ++i)
            {
                low.step (i);
                high.step (i);
            }

            high.store (state);
        }
        else
        {
            for (int i = 0; i < numSamples; ++i)
                low.step (i);
        }

        low.store (state);
    }

    template <typename Vector>
    KELT_ALWAYS_INLINE void cascade (CascadeLanes& state, const float* const* input, float* const* output,
                                     int numChannels, int numSamples) noexcept
    {
        switch (numChannels)
        {
            case 1: cascade<Vector, 1> (state, input, output, numSamples); break;
            case 2: cascade<Vector, 2> (state, input, output, numSamples); break;
            case 3: cascade<Vector, 3> (state, input, output, numSamples); break;
            case 4: cascade<Vector, 4> (state, input, output, numSamples); break;
            case 5: cascade<Vector, 5> (state, input, output, numSamples); break;
            case 6: cascade<Vector, 6> (state, input, output, numSamples); break;
            default: break;
        }
    }

    void runCascadePortable (CascadeLanes& state, const float* const* input, float* const* output,
                             int numChannels, int numSamples) noexcept
    {
        cascade<Quad> (state, input, output, numChannels, numSamples);
    }

#if KELT_HAVE_AVX2_KERNELS
    KELT_TARGET_AVX2
    void runCascadeAvx2 (CascadeLanes& state, const float* const* input, float* const* output,
                         int numChannels, int numSamples) noexcept
    {
        cascade<Octet> (state, input, output, numChannels, numSamples);
    }
#endif
#else
    void runCascadePortable (CascadeLanes& state, const float* const* input, float* const* output,
                             int numChannels, int numSamples) noexcept
    {
        auto& pre = state.pre;
        auto& rlb = state.rlb;

        for (int c = 0; c < numChannels; ++c)
        {
            for (int i = 0; i < numSamples; ++i)
            {
                const auto x = input[c][i];
                const auto y = pre[c0][c] * x + pre[s1][c];
                pre[s1][c] = pre[c1][c] * x - pre[c3][c] * y + pre[s2][c];
                pre[s2][c] = pre[c2][c] * x - pre[c4][c] * y;

                const auto z = rlb[c0][c] * y + rlb[s1][c];
                rlb[s1][c] = rlb[c1][c] * y - rlb[c3][c] * z + rlb[s2][c];
                rlb[s2][c] = rlb[c2][c] * y - rlb[c4][c] * z;
                output[c][i] = z;
            }
        }
    }
#endif

    void runCascade (CascadeLanes& state, const float* const* input, float* const* output,
                     int numChannels, int numSamples) noexcept
    {
#if KELT_HAVE_AVX2_KERNELS && defined(__GNUC__)
        if (SimdDispatch::useAvx2())
        {
            runCascadeAvx2 (state, input, output, numChannels, numSamples);
            return;
        }
#endif

        runCascadePortable (state, input, output, numChannels, numSamples);
    }
}

bool KWeightingFilter::resetIfNotFinite() noexcept
{
    const juce::SpinLock::ScopedLockType lock (processLock);

    if (std::isfinite (v1) && std::isfinite (v2))
        return false;

    v1 = v2 = 0.0f;
    return true;
}

void KWeightingFilter::processCascade (KWeightingFilter* preFilters, KWeightingFilter* rlbFilters,
                                       const float* const* input, float* const* output,
                                       int numChannels, int numSamples) noexcept
{
    jassert (numChannels <= maxCascadeChannels);
    numChannels = juce::jlimit (0, maxCascadeChannels, numChannels);
    numSamples = juce::jmax (0, numSamples);

    // Taken in one order and released in the other; everyone else holds at
    // most one of these locks at a time, so this cannot deadlock.
    for (int c = 0; c < numChannels; ++c)
    {
        preFilters[c].processLock.enter();
        rlbFilters[c].processLock.enter();
    }

    bool allActive = true;

    for (int c = 0; c < numChannels; ++c)
        allActive = allActive && preFilters[c].active && rlbFilters[c].active;

    if (allActive)
    {
        CascadeLanes lanes {};

        for (int c = 0; c < numChannels; ++c)
        {
            for (int f = c0; f <= c4; ++f)
            {
                lanes.pre[f][c] = preFilters[c].coefficients.coefficients[f];
                lanes.rlb[f][c] = rlbFilters[c].coefficients.coefficients[f];
            }

            lanes.pre[s1][c] = preFilters[c].v1;
            lanes.pre[s2][c] = preFilters[c].v2;
            lanes.rlb[s1][c] = rlbFilters[c].v1;
            lanes.rlb[s2][c] = rlbFilters[c].v2;
        }

        runCascade (lanes, input, output, numChannels, numSamples);

        // As processSamples leaves its state at the end of every call.
        using juce::ignoreUnused;

        for (int c = 0; c < numChannels; ++c)
        {
            auto preV1 = lanes.pre[s1][c], preV2 = lanes.pre[s2][c];
            auto rlbV1 = lanes.rlb[s1][c], rlbV2 = lanes.rlb[s2][c];
            JUCE_SNAP_TO_ZERO (preV1);
            JUCE_SNAP_TO_ZERO (preV2);
            JUCE_SNAP_TO_ZERO (rlbV1);
            JUCE_SNAP_TO_ZERO (rlbV2);
            preFilters[c].v1 = preV1;
            preFilters[c].v2 = preV2;
            rlbFilters[c].v1 = rlbV1;
            rlbFilters[c].v2 = rlbV2;
        }
    }

    for (int c = numChannels; --c >= 0;)
    {
        rlbFilters[c].processLock.exit();
        preFilters[c].processLock.exit();
    }

    if (allActive)
        return;

    for (int c = 0; c < numChannels; ++c)
    {
        if (output[c] != input[c])
            juce::FloatVectorOperations::copy (output[c], input[c], numSamples);

        preFilters[c].processSamples (output[c], numSamples);
        rlbFilters[c].processSamples (output[c], numSamples);
    }
}
