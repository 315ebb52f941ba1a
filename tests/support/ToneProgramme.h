#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>
#include <vector>

/** Test audio: steady sine tones one after another, the same in every
    channel. Generated block by block, so minutes of audio need no storage,
    and every pass over the same programme gives the same bits. */
class ToneProgramme final
{
public:
    struct Tone
    {
        double levelDbfs; // peak level of the sine in each channel
        double frequency;
        double seconds;
    };

    explicit ToneProgramme (std::vector<Tone> tonesToPlay, double sampleRateToUse = 48000.0)
        : tones (std::move (tonesToPlay)), sampleRate (sampleRateToUse)
    {
        double seconds = 0.0;

        for (const auto& tone : tones)
        {
            seconds += tone.seconds;
            toneEnds.push_back (static_cast<juce::int64> (std::llround (seconds * sampleRate)));
        }
    }

    juce::int64 getTotalSamples() const { return toneEnds.empty() ? 0 : toneEnds.back(); }

    /** Writes the next samples into every channel of the buffer, as many as
        fit or remain, and returns how many. The phase runs on across tone
        changes, so no step adds a click. */
    int fill (juce::AudioBuffer<float>& buffer)
    {
        const auto count = (int) juce::jmin ((juce::int64) buffer.getNumSamples(), getTotalSamples() - position);

        for (int i = 0; i < count; ++i, ++position)
        {
            while (toneEnds[toneIndex] <= position)
                ++toneIndex;

            const auto value = (float) (std::pow (10.0, tones[toneIndex].levelDbfs / 20.0) * std::sin (phase));
            phase = std::fmod (phase + juce::MathConstants<double>::twoPi * tones[toneIndex].frequency / sampleRate, juce::MathConstants<double>::twoPi);

            for (int c = 0; c < buffer.getNumChannels(); ++c)
                buffer.setSample (c, i, value);
        }

        return count;
    }

private:
    std::vector<Tone> tones;
    std::vector<juce::int64> toneEnds;
    double sampleRate;
    size_t toneIndex = 0;
    juce::int64 position = 0;
    double phase = 0.0;
};
