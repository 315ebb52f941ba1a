#include "processor/RenderPace.h"

#include <chrono>

double RenderPace::monotonicSeconds() noexcept
{
    // Usually a vDSO read on Linux, with no lock and no system call.
    return std::chrono::duration<double> (std::chrono::steady_clock::now().time_since_epoch()).count();
}

void RenderPace::reset() noexcept
{
    lead = 0.0;
    hasLastBlock = false;
}

bool RenderPace::isFasterThanRealTime (int numSamples, double sampleRate) noexcept
{
    const auto now = clock();

    if (sampleRate != lastSampleRate)
    {
        lastSampleRate = sampleRate;
        reset();
    }

    if (hasLastBlock)
    {
        // The wall time since the last block is what the host took for it.
        // Written so that a time that is not a number leaves no lead.
        const auto next = lead + lastBlockSeconds - wallTimeWeight * (now - lastBlockTime);
        lead = next > 0.0 ? juce::jmin (next, maxLead) : 0.0;
    }

    lastBlockTime = now;
    lastBlockSeconds = sampleRate > 0.0 ? numSamples / sampleRate : 0.0;
    hasLastBlock = true;

    return lead > fastLead;
}
