#pragma once

#include <cmath>

/** Rounds a loudness to the meter's 0.1 LU grid, an exact half towards +inf.

    Every step stays in single precision: the results must compare equal,
    bit for bit, with the histogram's bin values.
*/
inline float round1 (float x) noexcept
{
    return std::floor (x * 10.0f + 0.5f) / 10.0f;
}
