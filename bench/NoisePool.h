#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

/** Deterministic white noise that every benchmark cycles through block by
    block: planar for the plug-in, interleaved for libebur128, the same
    samples in both. Small enough to stay in cache, as a host's buffers do.
*/
class NoisePool final
{
public:
    static constexpr int blockSize = 512;
    static constexpr int numBlocks = 64;

    explicit NoisePool (int numChannels);

    int getNumChannels() const noexcept { return channels; }

    /** A view of block index % numBlocks; allocates nothing. */
    juce::AudioBuffer<float> block (int index);

    /** The same block, frames of interleaved channels. */
    const float* interleavedBlock (int index) const noexcept;

private:
    const int channels;
    juce::AudioBuffer<float> planar;
    std::vector<float> interleaved;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NoisePool)
};
