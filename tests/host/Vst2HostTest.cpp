#include <gtest/gtest.h>

#include "host/Vst2DirectHost.h"
#include "support/TestAudio.h"

#include <atomic>
#include <thread>
#include <chrono>
#include <limits>
#include <memory>
#include <string>

// The built VST 2 binary, driven through its dispatcher as a host drives it.

namespace
{
    class Vst2HostTest : public ::testing::Test
    {
    protected:
        void SetUp() override { ASSERT_TRUE (host.isLoaded()) << host.getError(); }

        /** A block through the effect, into separate outputs or in place;
            false if any output bit differs from its input. */
        static bool passesUnchanged (Vst2DirectHost& effect, juce::AudioBuffer<float>& input, bool inPlace)
        {
            juce::AudioBuffer<float> expected, output (input.getNumChannels(), input.getNumSamples());
            expected.makeCopyOf (input);
            output.clear();
            auto& out = inPlace ? input : output;
            effect.processReplacing (input.getArrayOfWritePointers(), out.getArrayOfWritePointers(), input.getNumSamples());
            return TestAudio::sameBits (out, expected, input.getNumChannels(), input.getNumSamples());
        }

        Vst2DirectHost host { KELT_VST2_BINARY };
    };
}

TEST_F (Vst2HostTest, IdentifiesAsAnEffectWithThreeParametersAndFourLayouts)
{
    const auto& effect = host.getEffect();

    EXPECT_EQ (effect.uniqueID, CCONST ('Z', 'u', 'n', 'o'));
    EXPECT_EQ (effect.numInputs * 10 + effect.numOutputs, 66);
    EXPECT_EQ (effect.numParams, 3);
    EXPECT_EQ (effect.initialDelay, 0);
    EXPECT_EQ (effect.flags & (effFlagsHasEditor | effFlagsCanReplacing | effFlagsProgramChunks | effFlagsIsSynth),
               effFlagsHasEditor | effFlagsCanReplacing | effFlagsProgramChunks);
    EXPECT_EQ (host.getString (effGetEffectName) + "|" + host.getString (effGetProductString), "Kelt5.1 LE|Kelt5.1 LE");
    EXPECT_FALSE (host.getString (effGetVendorString).empty());
    EXPECT_EQ (host.dispatch (effGetPlugCategory), kPlugCategEffect);
    EXPECT_EQ (host.dispatch (effGetVendorVersion), 101);
    EXPECT_EQ (effect.version, 101);

    for (int channels : { 6, 5, 2, 1 })
        EXPECT_TRUE (host.setSpeakerArrangement (channels, channels)) << channels;

    EXPECT_FALSE (host.setSpeakerArrangement (3, 3) || host.setSpeakerArrangement (2, 6) || host.setSpeakerArrangement (6, 2));

    // VST 2 hosts get at most 15 bytes of a name and 23 of a value text.
    EXPECT_EQ (host.getString (effGetParamName, 0) + "|" + host.getString (effGetParamName, 1) + "|" + host.getString (effGetParamName, 2),
               "Host Playstate|Measurement Sca|TruePeak Max Le");
    EXPECT_EQ (host.getString (effGetParamLabel, 0) + host.getString (effGetParamLabel, 1) + host.getString (effGetParamLabel, 2), "");

    auto& e = host.getEffect();
    EXPECT_EQ (host.getString (effGetParamDisplay, 0) + host.getString (effGetParamDisplay, 1), "0.001.00");
    e.setParameter (&e, 1, 0.0f);
    EXPECT_FLOAT_EQ (e.getParameter (&e, 1), 0.0f);
    EXPECT_EQ (host.getString (effGetParamDisplay, 1), "0.00");

    // Host values pass unchecked, so a text can be long.
    e.setParameter (&e, 1, -1.0e30f);
    const auto fullText = juce::String ((double) e.getParameter (&e, 1), 2);
    ASSERT_GT (fullText.length(), 23);
    EXPECT_EQ (host.getString (effGetParamDisplay, 1), fullText.substring (0, 23).toStdString());
}

TEST_F (Vst2HostTest, PassesAudioThroughUnchangedWhateverTheHostDoes)
{
    juce::Random random (4);
    juce::AudioBuffer<float> buffer;
    bool inPlace = false;

    // First the widest configuration, which hosts see at the start and may keep.
    for (int channels : { 6, 1, 2, 5 })
    {
        ASSERT_TRUE (channels == 6 || host.setSpeakerArrangement (channels, channels));

        for (auto rate : { 44100.0, 48000.0, 96000.0, 192000.0, 22050.0, 48000.5 })
        {
            for (auto blockSize : { 1, 17, 512, 4096 })
            {
                host.setRateAndBlockSize (rate, blockSize);
                host.resume();

                for (auto length : { 0, blockSize, 1, blockSize / 2 + 1 })
                {
                    buffer.setSize (channels, length);
                    TestAudio::fillWithNoise (buffer, random);
                    EXPECT_TRUE (passesUnchanged (host, buffer, inPlace = ! inPlace)) << channels << " channels, " << rate << " Hz";
                }

                host.suspend();
            }
        }
    }

    // Not-a-number, infinities and denormals pass bit for bit too.
    ASSERT_TRUE (host.setSpeakerArrangement (6, 6));
    host.setRateAndBlockSize (48000.0, 512);
    host.resume();
    buffer.setSize (6, 512);

    for (int block = 0; block < 100; ++block)
    {
        for (int c = 0; c < 6; ++c)
            for (int i = 0; i < 512; ++i)
                buffer.setSample (c, i, i % 97 == 0 ? std::numeric_limits<float>::quiet_NaN() : i % 50 == 0 ? std::numeric_limits<float>::infinity()
                                                                                                            : (float) (c - 3) * 1.0e-40f);

        ASSERT_TRUE (passesUnchanged (host, buffer, block % 2 == 0)) << block;
    }
}

TEST_F (Vst2HostTest, ChunkHoldsOnlyTheScaleAndRestoresIt)
{
    auto& effect = host.getEffect();
    effect.setParameter (&effect, 1, 0.0f);
    const auto bank = host.getChunk (false), preset = host.getChunk (true);

    const std::string text = "<MYPLUGINSETTINGS measurementScale=\"9\"/>";
    EXPECT_EQ (std::string (bank.begin() + 8, bank.end()), text + '\0');
    EXPECT_EQ (preset, bank);

    for (const auto asPreset : { false, true })
    {
        Vst2DirectHost restored (KELT_VST2_BINARY);
        auto& e = restored.getEffect();
        ASSERT_FLOAT_EQ (e.getParameter (&e, 1), 1.0f);
        restored.setChunk (asPreset ? preset : bank, asPreset);
        EXPECT_FLOAT_EQ (e.getParameter (&e, 1), 0.0f) << (asPreset ? "program" : "bank");
    }
}

TEST_F (Vst2HostTest, InstancesComeAndGoWithoutWaitingForTheirThreads)
{
    std::vector<std::unique_ptr<Vst2DirectHost>> hosts;
    juce::Random random (6);
    juce::AudioBuffer<float> buffer (6, 256);

    for (int i = 0; i < 12; ++i)
    {
        hosts.push_back (std::make_unique<Vst2DirectHost> (KELT_VST2_BINARY));
        hosts.back()->setRateAndBlockSize (44100.0 + 4000.0 * i, 256);

        if (i % 2 == 1)
        {
            hosts.back()->resume();
            TestAudio::fillWithNoise (buffer, random);
            EXPECT_TRUE (passesUnchanged (*hosts.back(), buffer, i % 4 == 1));
        }
    }

    const auto start = std::chrono::steady_clock::now();
    hosts.clear();
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::milliseconds (1000));
}

TEST_F (Vst2HostTest, EditorOpensAtItsFixedSize)
{
    const auto rect = host.getEditorRect();
    EXPECT_EQ (rect.width, 249);
    EXPECT_EQ (rect.height, 502);

    // Audio runs throughout; every opening sets the -1 dBTP limit.
    host.resume();
    std::atomic<bool> playing { true };
    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (6, TestAudio::maxBlockLength);
        juce::Random random (1);

        while (playing)
        {
            TestAudio::fillWithNoise (buffer, random);
            host.processReplacing (buffer.getArrayOfWritePointers(), buffer.getArrayOfWritePointers(), buffer.getNumSamples());
        }
    });

    auto& effect = host.getEffect();

    for (int opening = 0; opening < 100; ++opening)
    {
        effect.setParameter (&effect, 2, 0.0f);
        const auto shown = host.openEditorInX11Window (2000, [&] { return effect.getParameter (&effect, 2) == 1.0f; });
        EXPECT_EQ (shown.width, 249);
        EXPECT_EQ (shown.height, 502);
        EXPECT_EQ (effect.getParameter (&effect, 2), 1.0f) << "opening " << opening;
    }

    playing = false;
    audio.join();
    host.suspend();
}
