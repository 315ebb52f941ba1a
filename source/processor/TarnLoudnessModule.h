#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

/** The loudness engine. It runs its measurement step on the processor's
    loudness thread, about every 50 ms.
*/
class TarnLoudnessModule final : public juce::TimeSliceClient
{
public:
    TarnLoudnessModule();
    ~TarnLoudnessModule() override;

    int useTimeSlice() override;

    /** One measurement step. */
    void updateLoudness();

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TarnLoudnessModule)
};
