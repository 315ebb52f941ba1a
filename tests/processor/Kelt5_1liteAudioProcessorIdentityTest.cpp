#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"

TEST (ProcessorIdentity, AaxIdsAreNumberedByTheMainBusLayout)
{
    using Set = juce::AudioChannelSet;
    const Kelt5_1liteAudioProcessor p;

    const std::pair<Set, juce::int32> numbered[] { { Set::create5point1(), 0 }, { Set::create5point0(), 1 }, { Set::stereo(), 2 }, { Set::mono(), 3 } };

    for (const auto& [set, n] : numbered)
    {
        SCOPED_TRACE (set.getDescription());
        EXPECT_EQ (p.getAAXPluginIDForMainBusConfig (set, set, false), 0x6a636161 + n);
        EXPECT_EQ (p.getAAXPluginIDForMainBusConfig (set, set, true), 0x6a796161 + n);
    }

    // Any other pair keeps an id of its own, clear of the four.
    for (const auto& [in, out] : { std::pair { Set::create6point0(), Set::create6point0() },
                                   std::pair { Set::stereo(), Set::mono() } })
        EXPECT_GT (p.getAAXPluginIDForMainBusConfig (in, out, false), 0x6a636161 + 3);
}
