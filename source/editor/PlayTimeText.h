#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** The measured play time as the editor shows it, "hh:mm:ss:ff".

    Seconds and frames are both counted from the number of samples, each by
    itself: the frames are not the remainder of the seconds, so at rates that
    do not divide evenly they may turn over a little before or after the
    second does.
*/
class PlayTimeText final
{
public:
    /** Frames counted per second for a host frame rate: 24 for 24 and
        23.976 fps, 25 for 25 fps, 30 for every other rate or none. */
    static int framesPerSecond (juce::AudioPlayHead::FrameRate) noexcept;

    /** The text for a sample count at a sample rate; all zeros when the rate
        is below one sample per second. */
    static juce::String format (double measuredSamples, double sampleRate,
                                juce::AudioPlayHead::FrameRate);

private:
    PlayTimeText() = delete;
};
