#pragma once

#include <atomic>

/** The channel positions a block can carry: L, R, C, LFE, Ls, Rs. Every
    per-channel array of the measurement is this long. */
inline constexpr int numChannelPositions = 6;

/** The lowest loudness the meter shows, in LUFS; it also stands for nothing
    measured yet. */
inline constexpr float loudnessFloor = -70.0f;

/** Fields shared between threads are written and read whole and order
    nothing else, so their accesses need no ordering of their own. */
inline constexpr auto relaxed = std::memory_order_relaxed;
