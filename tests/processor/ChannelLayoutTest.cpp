#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"

#include <vector>

namespace
{
    using Set = juce::AudioChannelSet;

    bool useLayout (Kelt5_1liteAudioProcessor& p, const Set& set)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (set);
        layout.outputBuses.add (set);
        return p.setBusesLayout (layout);
    }

    struct Weighting
    {
        const char* name;
        Set layout;
        std::vector<float> weights;
    };
}

TEST (ChannelLayout, EachChannelIsWeightedByItsTypeInTheLayout)
{
    // Mono, stereo and 5.1 weigh exactly what the order L, R, C, LFE, Ls, Rs
    // gave them; other layouts with accepted channel counts by their types.
    const Weighting cases[] {
        { "5.1", Set::create5point1(), { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f } },
        { "mono", Set::mono(), { 1.0f } },
        { "stereo", Set::stereo(), { 1.0f, 1.0f } },
        { "5.0", Set::create5point0(), { 1.0f, 1.0f, 1.0f, 1.41f, 1.41f } },
        { "4.1", Set::channelSetWithChannels ({ Set::left, Set::right, Set::centre, Set::LFE, Set::centreSurround }), { 1.0f, 1.0f, 1.0f, 0.0f, 1.0f } },
        { "pentagonal", Set::pentagonal(), { 1.0f, 1.0f, 1.0f, 1.0f, 1.0f } },
        { "C + LFE", Set::channelSetWithChannels ({ Set::centre, Set::LFE }), { 1.0f, 0.0f } },
        { "6.0", Set::create6point0(), { 1.0f, 1.0f, 1.0f, 1.41f, 1.41f, 1.0f } },
        { "6.0 music", Set::create6point0Music(), { 1.0f, 1.0f, 1.41f, 1.41f, 1.41f, 1.41f } },
        { "6 discrete", Set::discreteChannels (6), { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f } },
    };

    Kelt5_1liteAudioProcessor p;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ASSERT_TRUE (useLayout (p, c.layout));

        for (int channel = 0; channel < static_cast<int> (c.weights.size()); ++channel)
            EXPECT_EQ (p.loudnessModule.getChannelWeight (channel), c.weights[(size_t) channel]) << "channel " << channel;
    }
}
