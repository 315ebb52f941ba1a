#include <gtest/gtest.h>

#include "editor/PlayTimeText.h"

#include <limits>

namespace
{
    using Head = juce::AudioPlayHead;
    using FrameRate = Head::FrameRate;
}

TEST (PlayTimeText, CountsHoursMinutesSecondsAndFramesEachFromTheSamples)
{
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();

    const struct { double samples, rate; FrameRate frameRate; const char* text; } cases[] = {
        { 178824000.0,    48000.0, Head::fps25,        "01:02:05:12" },
        { 44099.0,        44100.0, Head::fps24,        "00:00:00:00" },   // frame 24 wraps to 0 a sample before the second
        { 47999.0,        48000.0, Head::fps30,        "00:00:00:29" },
        { 15876000000.0,  44100.0, Head::fps30,        "100:00:00:00" },  // hours are never cut
        { 123456789.0,    0.0,     Head::fps25,        "00:00:00:00" },
        { 123456789.0,    0.5,     Head::fps25,        "00:00:00:00" },
        { 95.0,           10.0,    Head::fps30,        "00:00:09:00" },   // no whole sample per frame
        { -1.0,           48000.0, Head::fps30,        "-00:00:00:00" },
        { nan,            48000.0, Head::fps30,        "00:00:00:00" },
        { 1.0e6,          nan,     Head::fps30,        "00:00:00:00" },
        { 1.0e300,        48000.0, Head::fps30,        "596523:14:07:07" },  // stops at the largest count
    };

    for (const auto& c : cases)
        EXPECT_EQ (PlayTimeText::format (c.samples, c.rate, c.frameRate), c.text) << c.samples << " at " << c.rate;
}

TEST (PlayTimeText, CountsFramesByTheBaseRate)
{
    for (auto [rate, fps] : { std::pair<FrameRate, int> { Head::fps23976, 24 }, { Head::fps24, 24 }, { Head::fps25, 25 },
                              { Head::fps2997drop, 30 }, { Head::fps30, 30 }, { Head::fps60, 30 },
                              { FrameRate().withBaseRate (50), 30 }, { Head::fpsUnknown, 30 } })
        EXPECT_EQ (PlayTimeText::framesPerSecond (rate), fps) << rate.getBaseRate();
}
