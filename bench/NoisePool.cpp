#include "NoisePool.h"

NoisePool::NoisePool (int numChannels)
    : channels (numChannels),
      planar (numChannels, blockSize * numBlocks),
      interleaved (static_cast<size_t> (numChannels * blockSize * numBlocks))
{
    juce::Random random (0x4b656c74);
    const auto numFrames = planar.getNumSamples();

    // About -11 dBFS RMS: loud enough that the histograms count real values.
    for (int i = 0; i < numFrames; ++i)
    {
        for (int c = 0; c < channels; ++c)
        {
            const auto sample = random.nextFloat() - 0.5f;
            planar.setSample (c, i, sample);
            interleaved[static_cast<size_t> (i * channels + c)] = sample;
        }
    }
}

juce::AudioBuffer<float> NoisePool::block (int index)
{
    return { planar.getArrayOfWritePointers(), channels, (index % numBlocks) * blockSize, blockSize };
}

const float* NoisePool::interleavedBlock (int index) const noexcept
{
    return interleaved.data() + static_cast<size_t> ((index % numBlocks) * blockSize * channels);
}
