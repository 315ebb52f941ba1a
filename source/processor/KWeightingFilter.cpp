#include "processor/KWeightingFilter.h"

#include <cmath>

bool KWeightingFilter::resetIfNotFinite() noexcept
{
    const juce::SpinLock::ScopedLockType lock (processLock);

    if (std::isfinite (v1) && std::isfinite (v2))
        return false;

    v1 = v2 = 0.0f;
    return true;
}
