#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstring>

/** Noise in, bit-exact comparison out: what the pass-through tests share. */
namespace TestAudio
{
    /** Block lengths a host may use below its prepared size, ending on a full block. */
    inline constexpr int blockLengths[] = { 512, 1, 100, 333, 511, 64, 2, 512 };
    inline constexpr int maxBlockLength = 512;

    inline void fillWithNoise (juce::AudioBuffer<float>& buffer, juce::Random& random)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, random.nextFloat() * 2.0f - 1.0f);
    }

    /** True when the first numChannels channels of both hold the same bits. */
    inline bool sameBits (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b,
                          int numChannels, int numSamples)
    {
        for (int c = 0; c < numChannels; ++c)
            if (std::memcmp (a.getReadPointer (c), b.getReadPointer (c),
                             sizeof (float) * static_cast<size_t> (numSamples))
                != 0)
                return false;

        return true;
    }

    /** True when both have the same shape and hold the same bits. */
    inline bool sameBits (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        return a.getNumChannels() == b.getNumChannels() && a.getNumSamples() == b.getNumSamples()
            && sameBits (a, b, a.getNumChannels(), a.getNumSamples());
    }
}
