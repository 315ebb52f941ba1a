#include <gtest/gtest.h>

#include "host/HostedPluginLoader.h"
#include "host/Vst2DirectHost.h"
#include "support/TestAudio.h"

#include <cmath>

// A stereo track as a host plays it through the plug-in's own starting
// layout, without asking for another: the track in the first two channels,
// any further ones silent. Every channel must come out as it went in.

namespace
{
    using Format = HostedPluginLoader::Format;

    constexpr double rate = 48000.0;
    constexpr int blockSize = TestAudio::maxBlockLength;
    constexpr int numBlocks = 200;   // about two seconds

    /** The next block of the track: a different tone on each side. */
    void fillTrack (juce::AudioBuffer<float>& buffer, int block)
    {
        buffer.clear();

        for (int i = 0; i < blockSize; ++i)
        {
            const auto t = static_cast<double> (block * blockSize + i) / rate;
            buffer.setSample (0, i, static_cast<float> (0.5 * std::sin (2.0 * juce::MathConstants<double>::pi * 440.0 * t)));
            buffer.setSample (1, i, static_cast<float> (0.25 * std::sin (2.0 * juce::MathConstants<double>::pi * 660.0 * t)));
        }
    }

    class DawTrack : public ::testing::TestWithParam<Format> {};

    std::string formatName (const ::testing::TestParamInfo<Format>& info)
    {
        return HostedPluginLoader::getFormatName (info.param).toStdString();
    }
}

TEST_P (DawTrack, AStereoTrackPassesUnchangedInTheStartingLayout)
{
    HostedPluginLoader loader;
    juce::String error;
    const auto instance = loader.createInstance (GetParam(), rate, blockSize, error);
    ASSERT_NE (instance, nullptr) << error;

    // A VST3 host that keeps the channel count it first saw gets stereo; the
    // LV2 ports are 5.1, of which a stereo track uses the first two.
    const auto channels = instance->getTotalNumInputChannels();
    EXPECT_EQ (channels, GetParam() == Format::vst3 ? 2 : 6);
    EXPECT_EQ (instance->getTotalNumOutputChannels(), channels);

    if (GetParam() == Format::vst3)
    {
        EXPECT_EQ (instance->getChannelLayoutOfBus (true, 0), juce::AudioChannelSet::stereo());
    }

    instance->prepareToPlay (rate, blockSize);
    juce::AudioBuffer<float> buffer (channels, blockSize), track (channels, blockSize);
    juce::MidiBuffer midi;

    for (int block = 0; block < numBlocks; ++block)
    {
        fillTrack (track, block);
        buffer.makeCopyOf (track, true);
        instance->processBlock (buffer, midi);
        ASSERT_TRUE (TestAudio::sameBits (buffer, track)) << "block " << block;
    }

    instance->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats, DawTrack, ::testing::Values (Format::vst3, Format::lv2), formatName);

TEST (DawTrackVst2, AStereoTrackPassesUnchangedInTheStartingLayout)
{
    Vst2DirectHost host { KELT_VST2_BINARY };
    ASSERT_TRUE (host.isLoaded()) << host.getError();

    // VST 2 hosts see the widest configuration and feed the track's two.
    const auto channels = host.getEffect().numInputs;
    ASSERT_EQ (channels, 6);
    ASSERT_EQ (host.getEffect().numOutputs, 6);

    host.setRateAndBlockSize (rate, blockSize);
    host.resume();

    juce::AudioBuffer<float> track (channels, blockSize), output (channels, blockSize);

    for (int block = 0; block < numBlocks; ++block)
    {
        fillTrack (track, block);
        output.clear();
        host.processReplacing (track.getArrayOfWritePointers(), output.getArrayOfWritePointers(), blockSize);
        ASSERT_TRUE (TestAudio::sameBits (output, track)) << "block " << block;
    }

    host.suspend();
}
