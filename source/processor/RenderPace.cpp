#include "processor/RenderPace.h"

#include <chrono>

double RenderPace::monotonicSeconds() noexcept
{
    // A vDSO read on Linux, with no lock and no system call.
    return std::chrono::duration<double> (std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool RenderPace::isFasterThanRealTime (int numSamples, double sampleRate) noexcept
{
    const auto now = clock();

    if (sampleRate != lastSampleRate)
    {
        // Blocks counted at another rate say nothing about this one.
        lastSampleRate = sampleRate;
        lead = 0.0;
        hasLastBlock = false;
    }

    const auto elapsed = hasLastBlock ? now - lastBlockTime : 0.0;
    lastBlockTime = now;
    hasLastBlock = true;

    const auto blockSeconds = sampleRate > 0.0 ? numSamples / sampleRate : 0.0;

    // Written so that a time that is not a number leaves no lead.
    const auto next = lead + blockSeconds - wallTimeWeight * elapsed;
    lead = next > 0.0 ? juce::jmin (next, maxLead) : 0.0;

    return lead > fastLead;
}
