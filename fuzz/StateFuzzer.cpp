// libFuzzer target for the saved-settings reader: any block a host hands back
// must be absorbed without a crash, a hang or a leak, and whatever scale it
// leaves must survive the next save and restore.

#include "processor/Kelt5_1liteAudioProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace
{
    // Building a processor starts its loudness thread, far too slow to do for
    // every input, so one instance serves the whole run.
    Kelt5_1liteAudioProcessor& sharedProcessor()
    {
        static Kelt5_1liteAudioProcessor processor;
        return processor;
    }

    bool sameScale (float a, float b)
    {
        return std::isnan (a) ? std::isnan (b) : a == b;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    auto& processor = sharedProcessor();
    processor.measurementScale.store (18.0f);

    const auto clampedSize = static_cast<int> (std::min (size, static_cast<std::size_t> (std::numeric_limits<int>::max())));
    processor.setStateInformation (data, clampedSize);

    const auto restoredScale = processor.measurementScale.load();

    juce::MemoryBlock saved;
    processor.getStateInformation (saved);
    processor.measurementScale.store (18.0f);
    processor.setStateInformation (saved.getData(), static_cast<int> (saved.getSize()));

    if (! sameScale (processor.measurementScale.load(), restoredScale)
         || processor.truePeakMaxLevel.load() != -1.0f
         || processor.hostPlaying.load() != 0.0f)
        std::abort();

    return 0;
}
