#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/TestPlayHead.h"

#include <ebur128.h>

#include <cmath>
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
        { "4.1", Set::channelSetWithChannels ({ Set::left, Set::right, Set::centre, Set::LFE, Set::centreSurround }),
          { 1.0f, 1.0f, 1.0f, 0.0f, 1.0f } },
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

TEST (ChannelLayout, Tech3341Case6ReadsMinus23InFivePointZeroAndFivePointOne)
{
    constexpr int rate = 48000, blockSize = 2400;

    for (const bool withLfe : { false, true })
    {
        SCOPED_TRACE (withLfe ? "5.1" : "5.0");

        // L and R -28 dBFS, C -24, Ls and Rs -30; the LFE carries nothing.
        const auto levels = withLfe ? std::vector<float> { -28.0f, -28.0f, -24.0f, -1000.0f, -30.0f, -30.0f }
                                    : std::vector<float> { -28.0f, -28.0f, -24.0f, -30.0f, -30.0f };
        const auto channels = static_cast<int> (levels.size());

        Kelt5_1liteAudioProcessor p;
        ASSERT_TRUE (useLayout (p, withLfe ? Set::create5point1() : Set::create5point0()));
        p.prepareToPlay (rate, blockSize);
        p.releaseResources();   // one step after each block, as the thread keeps up
        TestPlayHead playHead;
        p.setPlayHead (&playHead);

        auto* reference = ebur128_init (static_cast<unsigned> (channels), rate, EBUR128_MODE_I);
        ASSERT_NE (reference, nullptr);
        const int surround = withLfe ? 4 : 3;

        if (withLfe)
            ebur128_set_channel (reference, 3, EBUR128_UNUSED);

        ebur128_set_channel (reference, static_cast<unsigned> (surround), EBUR128_LEFT_SURROUND);
        ebur128_set_channel (reference, static_cast<unsigned> (surround + 1), EBUR128_RIGHT_SURROUND);

        juce::AudioBuffer<float> block (channels, blockSize);
        std::vector<float> interleaved ((size_t) (channels * blockSize));
        juce::MidiBuffer midi;

        for (juce::int64 position = 0; position < 20 * rate; position += blockSize)
        {
            for (int c = 0; c < channels; ++c)
            {
                const auto amplitude = std::pow (10.0, static_cast<double> (levels[(size_t) c]) / 20.0);

                for (int i = 0; i < blockSize; ++i)
                {
                    const auto value = static_cast<float> (amplitude * std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0
                                                                                 * static_cast<double> ((position + i) % rate) / rate));
                    block.setSample (c, i, value);
                    interleaved[(size_t) (i * channels + c)] = value;
                }
            }

            ebur128_add_frames_float (reference, interleaved.data(), (size_t) blockSize);
            playHead.set (true, position);
            p.processBlock (block, midi);
            p.loudnessModule.updateLoudness();
        }

        double expected = 0.0;
        ebur128_loudness_global (reference, &expected);
        ebur128_destroy (&reference);

        // The last step's figure, published by a stopped block.
        juce::AudioBuffer<float> last (channels, 1);
        last.clear();
        playHead.set (false, 20 * rate);
        p.processBlock (last, midi);

        const auto integrated = p.readings.integratedLoudness.load();
        EXPECT_NEAR (integrated, -23.0f, 0.05f);
        EXPECT_NEAR (integrated, expected, 0.1);
    }
}
