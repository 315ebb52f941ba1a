#pragma once

#include <juce_core/juce_core.h>

/** The component row count that a meter position stands for: (float) height x
    position, truncated toward zero. The product is held to a few heights
    either side first, where nothing of a meter shows any more, so that a
    stray value can never overflow the conversion; not a number gives 0. */
inline int meterRowsFor (float position, int height) noexcept
{
    const auto rows = (float) height * position;

    if (! (rows == rows))
        return 0;

    const auto limit = 4.0f * (float) height;
    return (int) juce::jlimit (-limit, limit, rows);
}
