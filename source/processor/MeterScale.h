#pragma once

/** The constants of one meter scale: the loudness at the bottom and the top of
    the meter, and the raw exponential values the position mapping divides by.

    The raw values are computed by the mapping's own expression, so the bottom
    maps to exactly 0 and the top to exactly 1.
*/
struct MeterScale final
{
    MeterScale (float lowLoudness, float highLoudness) noexcept;

    /** e^k * e^(v / k), each exponential in double, rounded to float. */
    float raw (float loudness) const noexcept;

    /** (raw (v) - rawLow) / rawSpan in single precision, not clamped. */
    float position (float loudness) const noexcept;

    float low, high, k, rawLow, rawHigh, rawSpan;
};
