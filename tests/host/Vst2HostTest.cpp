#include <gtest/gtest.h>

#include "support/TestAudio.h"
#include "host/Vst2DirectHost.h"

#include <atomic>
#include <string>
#include <thread>

namespace
{
    class Vst2HostTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            ASSERT_TRUE (host.isLoaded()) << host.getError();
            host.setRateAndBlockSize (48000.0, TestAudio::maxBlockLength);
        }

        /** Noise through several blocks of varied length, alternating
            separate output arrays with processing in place, as hosts do;
            fails on the first block whose output differs from its input. */
        ::testing::AssertionResult passesNoiseUnchanged (int numChannels)
        {
            host.resume();

            juce::Random random (numChannels);
            juce::AudioBuffer<float> input, output, expected;
            auto inPlace = false;
            auto result = ::testing::AssertionSuccess();

            for (auto length : TestAudio::blockLengths)
            {
                input.setSize (numChannels, length);
                output.setSize (numChannels, length);
                TestAudio::fillWithNoise (input, random);
                output.clear();
                expected.makeCopyOf (input);

                auto& out = inPlace ? input : output;
                host.processReplacing (input.getArrayOfWritePointers(), out.getArrayOfWritePointers(), length);

                if (! TestAudio::sameBits (out, expected, numChannels, length))
                {
                    result = ::testing::AssertionFailure() << numChannels << " channels changed in a block of "
                                                           << length << (inPlace ? ", in place" : "");
                    break;
                }

                inPlace = ! inPlace;
            }

            host.suspend();
            return result;
        }

        Vst2DirectHost host { KELT_VST2_BINARY };
    };
}

TEST_F (Vst2HostTest, IdentifiesAsAnEffectNamedKelt)
{
    const auto& effect = host.getEffect();

    EXPECT_EQ (effect.uniqueID, CCONST ('Z', 'u', 'n', 'o'));
    EXPECT_EQ (effect.numInputs, 6);
    EXPECT_EQ (effect.numOutputs, 6);
    EXPECT_EQ (effect.numParams, 3);
    EXPECT_EQ (effect.initialDelay, 0);
    EXPECT_NE (effect.flags & effFlagsHasEditor, 0);
    EXPECT_NE (effect.flags & effFlagsCanReplacing, 0);
    EXPECT_NE (effect.flags & effFlagsProgramChunks, 0);
    EXPECT_EQ (effect.flags & effFlagsIsSynth, 0);

    EXPECT_EQ (host.getString (effGetEffectName), "Kelt5.1 LE");
    EXPECT_EQ (host.getString (effGetProductString), "Kelt5.1 LE");
    EXPECT_FALSE (host.getString (effGetVendorString).empty());
    EXPECT_EQ (host.dispatch (effGetPlugCategory), kPlugCategEffect);
}

TEST_F (Vst2HostTest, ReportsVersionOneZeroOneAsTheNumber101)
{
    EXPECT_EQ (host.dispatch (effGetVendorVersion), 101);
    EXPECT_EQ (host.getEffect().version, 101);
}

TEST_F (Vst2HostTest, AcceptsOnlyEqualInputAndOutputCountsOfSixFiveTwoOrOne)
{
    for (int channels : { 6, 5, 2, 1 })
        EXPECT_TRUE (host.setSpeakerArrangement (channels, channels)) << channels;

    EXPECT_FALSE (host.setSpeakerArrangement (3, 3));
    EXPECT_FALSE (host.setSpeakerArrangement (2, 6));
    EXPECT_FALSE (host.setSpeakerArrangement (6, 2));
}

TEST_F (Vst2HostTest, OffersThreeParametersShownWithTwoDecimals)
{
    // VST 2 hosts get at most 15 bytes of a name; other formats the whole.
    const char* const names[] = { "Host Playstate", "Measurement Sca", "TruePeak Max Le" };

    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ (host.getString (effGetParamName, i), names[i]) << "parameter " << i;
        EXPECT_EQ (host.getString (effGetParamLabel, i), "") << "parameter " << i;
    }

    auto& effect = host.getEffect();
    EXPECT_FLOAT_EQ (effect.getParameter (&effect, 0), 0.0f);
    EXPECT_FLOAT_EQ (effect.getParameter (&effect, 1), 1.0f);
    EXPECT_EQ (host.getString (effGetParamDisplay, 0), "0.00");
    EXPECT_EQ (host.getString (effGetParamDisplay, 1), "1.00");

    effect.setParameter (&effect, 1, 0.0f);
    EXPECT_FLOAT_EQ (effect.getParameter (&effect, 1), 0.0f);
    EXPECT_EQ (host.getString (effGetParamDisplay, 1), "0.00");

    // Host values pass unchecked, so a text can be long: at most 23 bytes.
    effect.setParameter (&effect, 1, -1.0e30f);
    const auto fullText = juce::String (static_cast<double> (effect.getParameter (&effect, 1)), 2);
    ASSERT_GT (fullText.length(), 23);
    EXPECT_EQ (host.getString (effGetParamDisplay, 1), fullText.substring (0, 23).toStdString());
}

TEST_F (Vst2HostTest, PassesAudioThroughUnchanged)
{
    for (int channels : { 1, 2, 5, 6 })
    {
        ASSERT_TRUE (host.setSpeakerArrangement (channels, channels)) << channels;
        EXPECT_TRUE (passesNoiseUnchanged (channels));
    }
}

TEST_F (Vst2HostTest, EditorOpensAtItsFixedSize)
{
    const auto rect = host.getEditorRect();
    EXPECT_EQ (rect.width, 249);
    EXPECT_EQ (rect.height, 502);

    // Audio runs throughout; every opening sets the -1 dBTP limit.
    host.resume();
    std::atomic<bool> playing { true };
    std::thread audio ([&]
    {
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
