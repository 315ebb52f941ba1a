#include <gtest/gtest.h>

#include "processor/RenderPace.h"

#include <limits>
#include <utility>

namespace
{
    double now = 0.0;

    double simulatedClock() noexcept { return now; }

    constexpr double blockSeconds = 512.0 / 48000.0;

    /** Plays seconds of audio in blocks of 48 kHz, handed over burst blocks
        at a time, at speed times real time, the pace told the given rate.
        Gives the number of blocks that counted as fast, and the audio time
        before the first. */
    std::pair<int, double> play (RenderPace& pace, double seconds, double speed, int burst = 1,
                                 double sampleRate = 48000.0, int frames = 512)
    {
        const auto duration = frames / 48000.0;
        const auto numBlocks = static_cast<int> (seconds / duration);
        auto fast = 0;
        auto untilFirst = -1.0;

        for (int i = 0; i < numBlocks; ++i)
        {
            if (i % burst == 0 && i > 0)
                now += burst * duration / speed;

            if (pace.isFasterThanRealTime (frames, sampleRate) && fast++ == 0)
                untilFirst = i * duration;
        }

        now += duration / speed;
        return { fast, untilFirst };
    }
}

TEST (RenderPace, TellsARenderFromPlaybackThatProcessesAhead)
{
    // Real time, also when the host hands over up to 0.4 s of blocks at once,
    // or blocks of 0.68 s.
    for (auto [burst, frames] : { std::pair (1, 512), { 8, 512 }, { 37, 512 }, { 1, 32768 } })
    {
        RenderPace pace;
        pace.clock = simulatedClock;
        EXPECT_EQ (play (pace, 60.0, 1.0, burst, 48000.0, frames).first, 0) << burst << " blocks of " << frames << " at a time";
    }

    // A render counts as one once about half a second of audio has passed,
    // which the FIFOs still hold whole, and stays one to the end.
    for (double speed : { 2.0, 50.0, 1.0e6 })
    {
        RenderPace pace;
        pace.clock = simulatedClock;
        const auto [fast, untilFirst] = play (pace, 20.0, speed);
        EXPECT_LT (untilFirst, speed > 10.0 ? 0.55 : 1.6) << speed;
        EXPECT_NEAR (fast * blockSeconds, 1875 * blockSeconds - untilFirst, 1.0e-9) << speed;
    }
}

TEST (RenderPace, LetsGoOfARenderWhenRealTimeResumes)
{
    RenderPace pace;
    pace.clock = simulatedClock;

    // Straight back to real time: within a second, and for good.
    ASSERT_GT (play (pace, 30.0, 100.0).first, 0);
    EXPECT_LT (play (pace, 1.5, 1.0).first * blockSeconds, 1.05);
    EXPECT_EQ (play (pace, 30.0, 1.0).first, 0);

    // After a pause, a reset or at a new rate, the count starts afresh.
    for (int restart = 0; restart < 3; ++restart)
    {
        ASSERT_GT (play (pace, 30.0, 100.0).first, 0);
        now += restart == 0 ? 0.5 : 0.0;

        if (restart == 1)
            pace.reset();

        EXPECT_FALSE (pace.isFasterThanRealTime (512, restart == 2 ? 96000.0 : 48000.0)) << restart;
    }

    // A rate that makes no sense gives blocks no length.
    for (double rate : { 0.0, -48000.0, std::numeric_limits<double>::quiet_NaN() })
        EXPECT_EQ (play (pace, 5.0, 1.0e6, 1, rate).first, 0) << rate;
}
