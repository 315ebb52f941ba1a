#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** A play head whose position the test sets before each block. */
class TestPlayHead final : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override
    {
        if (! available)
            return {};

        return position;
    }

    /** A playing (or stopped) transport at the given sample position. */
    void set (bool playing, juce::int64 timeInSamples, double sampleRate = 48000.0)
    {
        position = {};
        position.setIsPlaying (playing);
        position.setTimeInSamples (timeInSamples);
        position.setTimeInSeconds (static_cast<double> (timeInSamples) / sampleRate);
        position.setBpm (120.0);
        available = true;
    }

    PositionInfo position;
    bool available = true;
};
