#pragma once

#include <juce_core/juce_core.h>

/** Tells, from a monotonic clock read once per block, whether the host pushes
    audio clearly faster than real time: an export that it does not call
    offline.

    It keeps the lead of audio time over wall time: each block's duration,
    less the wall time the host took before the next block, counted a quarter
    longer than it is. At real-time pace the lead drains away, also when a
    host processes a few blocks ahead in a burst; a render at well over real
    time builds it up. The lead is capped, so that a stream that goes back to
    real-time pace is let go within a second.

    Audio thread only.
*/
class RenderPace final
{
public:
    /** Seconds on a clock that never goes back. */
    using Clock = double (*)() noexcept;

    static double monotonicSeconds() noexcept;

    /** Counts a block; true while the host runs well ahead of real time. A
        new sample rate starts the count afresh. */
    bool isFasterThanRealTime (int numSamples, double sampleRate) noexcept;

    /** Forgets the blocks so far, for a host whose pace they no longer tell. */
    void reset() noexcept;

    /** Where the time of each block comes from; tests may simulate one. */
    Clock clock = monotonicSeconds;

    /** Above this lead of audio over wall time, in seconds, the host is
        rendering: well beyond what hosts buffer ahead at real-time pace, and
        well within what the FIFOs hold. */
    static constexpr double fastLead = 0.5;

    /** The most lead counted: after a render, real-time pace drains it below
        fastLead within a second. */
    static constexpr double maxLead = 0.75;

    /** How much longer than it is wall time counts, so that a real-time pace
        drains the lead. */
    static constexpr double wallTimeWeight = 1.25;

private:
    double lead = 0.0;
    double lastBlockTime = 0.0;
    double lastBlockSeconds = 0.0;
    double lastSampleRate = 0.0;
    bool hasLastBlock = false;

    JUCE_LEAK_DETECTOR (RenderPace)
};
