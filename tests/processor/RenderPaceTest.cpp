#include <gtest/gtest.h>

#include "processor/RenderPace.h"

#include <limits>
#include <utility>

namespace
{
    double now = 0.0;

    double simulatedClock() noexcept { return now; }

    constexpr double blockSeconds = 512.0 / 48000.0;

    /** Plays seconds of audio in 512-frame blocks of 48 kHz, handed over
        burst blocks at a time, at speed times real time, the pace told the
        given rate. Gives the number of blocks that counted as fast, and the
        audio time before the first. */
    std::pair<int, double> play (RenderPace& pace, double seconds, double speed, int burst = 1, double sampleRate = 48000.0)
    {
        const auto numBlocks = static_cast<int> (seconds / blockSeconds);
        auto fast = 0;
        auto untilFirst = -1.0;

        for (int i = 0; i < numBlocks; ++i)
        {
            if (i % burst == 0 && i > 0)
                now += burst * blockSeconds / speed;

            if (pace.isFasterThanRealTime (512, sampleRate) && fast++ == 0)
                untilFirst = i * blockSeconds;
        }

        now += blockSeconds / speed;
        return { fast, untilFirst };
    }
}

TEST (RenderPace, TellsARenderFromPlaybackThatProcessesAhead)
{
    // Real time, also when the host hands over up to 0.4 s of blocks at once.
    for (int burst : { 1, 8, 37 })
    {
        RenderPace pace;
        pace.clock = simulatedClock;
        EXPECT_EQ (play (pace, 60.0, 1.0, burst).first, 0) << burst << " blocks at a time";
    }

    // A render counts as one before half a second of audio has passed, so
    // the FIFOs still hold all of it, and stays one to the end.
    for (double speed : { 2.0, 50.0, 1.0e6 })
    {
        RenderPace pace;
        pace.clock = simulatedClock;
        const auto [fast, untilFirst] = play (pace, 20.0, speed);
        EXPECT_LT (untilFirst, speed > 10.0 ? 0.52 : 1.6) << speed;
        EXPECT_NEAR (fast * blockSeconds, 1875 * blockSeconds - untilFirst, 1.0e-9) << speed;
    }
}

TEST (RenderPace, LetsGoOfARenderWhenRealTimeResumes)
{
    RenderPace pace;
    pace.clock = simulatedClock;

    // Straight back to real time: within about two seconds, and for good.
    ASSERT_GT (play (pace, 30.0, 100.0).first, 0);
    EXPECT_LT (play (pace, 2.5, 1.0).first * blockSeconds, 2.1);
    EXPECT_EQ (play (pace, 30.0, 1.0).first, 0);

    // After a pause, or at a new rate, the count starts afresh.
    ASSERT_GT (play (pace, 30.0, 100.0).first, 0);
    now += 1.0;
    EXPECT_FALSE (pace.isFasterThanRealTime (512, 48000.0));
    ASSERT_GT (play (pace, 30.0, 100.0).first, 0);
    EXPECT_FALSE (pace.isFasterThanRealTime (512, 96000.0));

    // A rate that makes no sense gives blocks no length.
    for (double rate : { 0.0, -48000.0, std::numeric_limits<double>::quiet_NaN() })
        EXPECT_EQ (play (pace, 5.0, 1.0e6, 1, rate).first, 0) << rate;
}
