#include "editor/PlayTimeText.h"

#include <cmath>
#include <limits>

namespace
{
    /** Truncates toward zero; values beyond the int range stop at its ends and
        NaN gives 0, where a plain cast would be undefined. */
    int truncateToInt (double value) noexcept
    {
        if (std::isnan (value))
            return 0;

        if (value <= static_cast<double> (std::numeric_limits<int>::min()))
            return std::numeric_limits<int>::min();

        if (value >= static_cast<double> (std::numeric_limits<int>::max()))
            return std::numeric_limits<int>::max();

        return static_cast<int> (value);
    }

    juce::String twoDigits (int value)
    {
        return juce::String (value).paddedLeft ('0', 2);
    }
}

int PlayTimeText::framesPerSecond (juce::AudioPlayHead::FrameRate rate) noexcept
{
    // Pull-down rates run the frame count of their base rate.
    switch (rate.getBaseRate())
    {
        case 24: return 24;
        case 25: return 25;
        default: return 30;
    }
}

juce::String PlayTimeText::format (double measuredSamples, double sampleRate,
                                   juce::AudioPlayHead::FrameRate frameRate)
{
    int hours = 0, minutes = 0, seconds = 0, frames = 0;

    if (truncateToInt (sampleRate) != 0)
    {
        const auto fps = framesPerSecond (frameRate);
        const auto samplesPerFrame = truncateToInt (sampleRate / static_cast<double> (fps));

        // A rate below the frame rate has no whole sample per frame.
        if (samplesPerFrame != 0)
            frames = truncateToInt (measuredSamples / static_cast<double> (samplesPerFrame)) % fps;

        const auto totalSeconds = truncateToInt (measuredSamples / sampleRate);
        hours = totalSeconds / 3600;
        minutes = (totalSeconds - 3600 * hours) / 60;
        seconds = totalSeconds % 60;
    }

    return juce::String (measuredSamples < 0.0 ? "-" : "")
         + twoDigits (hours) + ":" + twoDigits (minutes) + ":" + twoDigits (seconds) + ":" + twoDigits (frames);
}
