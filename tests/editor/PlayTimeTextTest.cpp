#include <gtest/gtest.h>

#include "editor/PlayTimeText.h"

#include <limits>

TEST (PlayTimeText, CountsHoursMinutesSecondsAndFramesEachFromTheSamples)
{
    using Head = juce::AudioPlayHead;
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();

    // The last frame of a second shows the frame count of each rate.
    const struct
    {
        double samples, rate;
        Head::FrameRate frameRate;
        const char* text;
    } cases[] = {
        { 178824000.0, 48000.0, Head::fps25, "01:02:05:12" },
        { 44099.0, 44100.0, Head::fps24, "00:00:00:00" }, // frame 24 wraps to 0 a sample before the second
        { 47999.0, 48000.0, Head::fps30, "00:00:00:29" },
        { 47999.0, 48000.0, Head::fps23976, "00:00:00:23" },
        { 47999.0, 48000.0, Head::fps2997drop, "00:00:00:29" },
        { 47999.0, 48000.0, Head::fps60, "00:00:00:29" },
        { 47999.0, 48000.0, Head::fpsUnknown, "00:00:00:29" },
        { 15876000000.0, 44100.0, Head::fps30, "100:00:00:00" }, // hours are never cut
        { 123456789.0, 0.0, Head::fps25, "00:00:00:00" },
        { 95.0, 10.0, Head::fps30, "00:00:09:00" }, // no whole sample per frame
        { -1.0, 48000.0, Head::fps30, "-00:00:00:00" },
        { nan, 48000.0, Head::fps30, "00:00:00:00" },
        { 1.0e6, nan, Head::fps30, "00:00:00:00" },
        { 1.0e300, 48000.0, Head::fps30, "596523:14:07:07" }, // stops at the largest count
    };

    for (const auto& c : cases)
        EXPECT_EQ (PlayTimeText::format (c.samples, c.rate, c.frameRate), c.text) << c.samples << " at " << c.rate;
}
