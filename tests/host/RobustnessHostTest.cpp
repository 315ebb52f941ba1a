#include <gtest/gtest.h>

#include "host/HostedPluginLoader.h"
#include "support/TestAudio.h"
#include "host/Vst2DirectHost.h"

#include <chrono>
#include <limits>
#include <memory>
#include <vector>

// The built binaries under what hosts do to them: every rate and block size,
// empty and uneven blocks, hostile samples, and instances coming and going.
// Whatever happens, the audio leaves exactly as it came in.

namespace
{
    using Format = HostedPluginLoader::Format;
    using namespace std::chrono;

    const double rates[] = { 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0,
                             22050.0, 32000.0, 50000.0, 48000.5 };
    const int blockSizes[] = { 1, 17, 64, 512, 4096 };

    /** Lengths a host may use with a prepared size: empty blocks, the full
        size and uneven ones below it. */
    std::vector<int> blockLengthsFor (int blockSize)
    {
        return { 0, blockSize, 1, blockSize / 2 + 1, 0, blockSize };
    }

    struct Signal
    {
        const char* name;
        float (*sample) (int channel, int index, juce::Random&);
    };

    const Signal hostileSignals[] = {
        { "silence",             [] (int, int, juce::Random&) { return 0.0f; } },
        { "a full-scale square", [] (int, int i, juce::Random&) { return (i / 24) % 2 == 0 ? 1.0f : -1.0f; } },
        { "denormals",           [] (int c, int i, juce::Random&) { return (float) ((i + c) % 3 - 1) * 1.0e-40f; } },
        { "NaN among noise",     [] (int, int i, juce::Random& r) { return i % 97 == 0 ? std::numeric_limits<float>::quiet_NaN()
                                                                                        : r.nextFloat() - 0.5f; } },
        { "infinities",          [] (int c, int i, juce::Random&) { return i % 50 == 0 ? (c % 2 == 0 ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity()
                                                                                        : 0.25f; } },
        { "direct current",      [] (int, int, juce::Random&) { return -0.75f; } },
    };

    void fill (juce::AudioBuffer<float>& buffer, const Signal& signal, juce::Random& random)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, signal.sample (c, i, random));
    }

    //==============================================================================
    class HostedRobustness : public ::testing::TestWithParam<Format>
    {
    protected:
        std::unique_ptr<juce::AudioPluginInstance> create()
        {
            juce::String error;
            auto instance = loader.createInstance (GetParam(), 48000.0, 512, error);
            EXPECT_NE (instance, nullptr) << error;
            return instance;
        }

        /** One block through the instance; false if any bit changed. */
        static bool passesUnchanged (juce::AudioPluginInstance& instance, juce::AudioBuffer<float>& buffer)
        {
            juce::AudioBuffer<float> input;
            input.makeCopyOf (buffer);
            juce::MidiBuffer midi;
            instance.processBlock (buffer, midi);
            return TestAudio::sameBits (buffer, input, buffer.getNumChannels(), buffer.getNumSamples());
        }

        HostedPluginLoader loader;
    };

    std::string formatName (const ::testing::TestParamInfo<Format>& info)
    {
        return HostedPluginLoader::getFormatName (info.param).toStdString();
    }
}

//==============================================================================
TEST_P (HostedRobustness, EveryRateAndBlockSizePassesAudioThrough)
{
    auto instance = create();
    ASSERT_NE (instance, nullptr);

    const auto channels = instance->getTotalNumInputChannels();
    juce::Random random (1);
    juce::AudioBuffer<float> buffer;

    for (auto rate : rates)
    {
        for (auto blockSize : blockSizes)
        {
            instance->prepareToPlay (rate, blockSize);

            for (auto length : blockLengthsFor (blockSize))
            {
                buffer.setSize (channels, length);
                TestAudio::fillWithNoise (buffer, random);
                EXPECT_TRUE (passesUnchanged (*instance, buffer)) << rate << " Hz, " << length << " of " << blockSize;
            }

            // Every other time the host prepares again without releasing.
            if (blockSize != 64)
                instance->releaseResources();
        }
    }

    instance->releaseResources();
}

TEST_P (HostedRobustness, HostileSamplesPassThroughBitForBit)
{
    auto instance = create();
    ASSERT_NE (instance, nullptr);
    instance->prepareToPlay (48000.0, 512);

    juce::Random random (2);
    juce::AudioBuffer<float> buffer (instance->getTotalNumInputChannels(), 512);

    for (const auto& signal : hostileSignals)
        for (int block = 0; block < 100; ++block)   // past a 400 ms window
        {
            fill (buffer, signal, random);
            ASSERT_TRUE (passesUnchanged (*instance, buffer)) << signal.name << ", block " << block;
        }

    // And ordinary audio afterwards.
    TestAudio::fillWithNoise (buffer, random);
    EXPECT_TRUE (passesUnchanged (*instance, buffer));
    instance->releaseResources();
}

TEST_P (HostedRobustness, InstancesComeAndGoOneByOneAndSeveralAtOnce)
{
    auto slowest = steady_clock::duration::zero();
    juce::Random random (3);

    for (int i = 0; i < 15; ++i)
    {
        auto instance = create();
        ASSERT_NE (instance, nullptr);

        // Some go unprepared, some prepared and released, some while prepared.
        if (i % 3 != 0)
        {
            instance->prepareToPlay (48000.0, 512);
            juce::AudioBuffer<float> buffer (instance->getTotalNumInputChannels(), 512);
            TestAudio::fillWithNoise (buffer, random);
            EXPECT_TRUE (passesUnchanged (*instance, buffer));

            if (i % 3 == 1)
                instance->releaseResources();
        }

        const auto start = steady_clock::now();
        instance.reset();
        slowest = std::max (slowest, steady_clock::now() - start);
    }

    // Well below the second a stuck loudness thread would cost.
    EXPECT_LT (slowest, milliseconds (500));

    std::vector<std::unique_ptr<juce::AudioPluginInstance>> instances;

    for (int i = 0; i < 4; ++i)
    {
        instances.push_back (create());
        ASSERT_NE (instances.back(), nullptr);
        instances.back()->prepareToPlay (44100.0 + 4000.0 * i, 256);
    }

    for (int block = 0; block < 50; ++block)
        for (auto& instance : instances)
        {
            juce::AudioBuffer<float> buffer (instance->getTotalNumInputChannels(), 256);
            TestAudio::fillWithNoise (buffer, random);
            ASSERT_TRUE (passesUnchanged (*instance, buffer));
        }

    const auto start = steady_clock::now();
    instances.clear();
    EXPECT_LT (steady_clock::now() - start, milliseconds (1000));
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedRobustness,
                          ::testing::Values (Format::vst3, Format::lv2), formatName);

//==============================================================================
namespace
{
    /** Blocks through the VST 2 effect, alternating separate output arrays
        with processing in place; false if any output bit differs from its input. */
    bool vst2PassesUnchanged (Vst2DirectHost& host, juce::AudioBuffer<float>& input, bool inPlace)
    {
        juce::AudioBuffer<float> expected, output (input.getNumChannels(), input.getNumSamples());
        expected.makeCopyOf (input);
        output.clear();

        auto& out = inPlace ? input : output;
        host.processReplacing (input.getArrayOfWritePointers(), out.getArrayOfWritePointers(), input.getNumSamples());
        return TestAudio::sameBits (out, expected, input.getNumChannels(), input.getNumSamples());
    }
}

TEST (Vst2HostRobustness, EveryRateAndBlockSizePassesAudioThrough)
{
    Vst2DirectHost host { KELT_VST2_BINARY };
    ASSERT_TRUE (host.isLoaded()) << host.getError();

    juce::Random random (4);
    juce::AudioBuffer<float> buffer;
    bool inPlace = false;

    for (auto rate : rates)
    {
        for (auto blockSize : blockSizes)
        {
            host.setRateAndBlockSize (rate, blockSize);
            host.resume();

            for (auto length : blockLengthsFor (blockSize))
            {
                buffer.setSize (6, length);
                TestAudio::fillWithNoise (buffer, random);
                EXPECT_TRUE (vst2PassesUnchanged (host, buffer, inPlace)) << rate << " Hz, " << length << " of " << blockSize;
                inPlace = ! inPlace;
            }

            host.suspend();
        }
    }
}

TEST (Vst2HostRobustness, HostileSamplesPassThroughBitForBit)
{
    Vst2DirectHost host { KELT_VST2_BINARY };
    ASSERT_TRUE (host.isLoaded()) << host.getError();
    host.setRateAndBlockSize (48000.0, 512);
    host.resume();

    juce::Random random (5);
    juce::AudioBuffer<float> buffer (6, 512);

    for (const auto& signal : hostileSignals)
        for (int block = 0; block < 100; ++block)
        {
            fill (buffer, signal, random);
            ASSERT_TRUE (vst2PassesUnchanged (host, buffer, block % 2 == 0)) << signal.name << ", block " << block;
        }
}

TEST (Vst2HostRobustness, InstancesComeAndGoOneByOneAndSeveralAtOnce)
{
    juce::Random random (6);
    auto slowest = steady_clock::duration::zero();

    for (int i = 0; i < 15; ++i)
    {
        auto host = std::make_unique<Vst2DirectHost> (KELT_VST2_BINARY);
        ASSERT_TRUE (host->isLoaded()) << host->getError();

        if (i % 2 == 1)
        {
            host->setRateAndBlockSize (48000.0, 512);
            host->resume();
            juce::AudioBuffer<float> buffer (6, 512);
            TestAudio::fillWithNoise (buffer, random);
            EXPECT_TRUE (vst2PassesUnchanged (*host, buffer, true));
        }

        const auto start = steady_clock::now();
        host.reset();
        slowest = std::max (slowest, steady_clock::now() - start);
    }

    EXPECT_LT (slowest, milliseconds (500));

    std::vector<std::unique_ptr<Vst2DirectHost>> hosts;

    for (int i = 0; i < 4; ++i)
    {
        hosts.push_back (std::make_unique<Vst2DirectHost> (KELT_VST2_BINARY));
        ASSERT_TRUE (hosts.back()->isLoaded()) << hosts.back()->getError();
        hosts.back()->setRateAndBlockSize (44100.0 + 4000.0 * i, 256);
        hosts.back()->resume();
    }

    for (int block = 0; block < 50; ++block)
        for (auto& host : hosts)
        {
            juce::AudioBuffer<float> buffer (6, 256);
            TestAudio::fillWithNoise (buffer, random);
            ASSERT_TRUE (vst2PassesUnchanged (*host, buffer, block % 2 == 0));
        }

    const auto start = steady_clock::now();
    hosts.clear();
    EXPECT_LT (steady_clock::now() - start, milliseconds (1000));
}
