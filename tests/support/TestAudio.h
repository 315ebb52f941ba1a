#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstring>

/** Noise in, bit-exact comparison out: what the pass-through tests share. */
namespace TestAudio
{

    inline void fillWithNoise (juce::AudioBuffer<float>& buffer, juce::Random& random)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, random.nextFloat() * 2.0f - 1.0f);
    }

    /** True when both have the same shape and hold the same bits. */
    inline bool sameBits (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
            return false;

        for (int c = 0; c < a.getNumChannels(); ++c)
            if (std::memcmp (a.getReadPointer (c), b.getReadPointer (c), sizeof (float) * (size_t) a.getNumSamples()) != 0)
                return false;

        return true;
    }
}
