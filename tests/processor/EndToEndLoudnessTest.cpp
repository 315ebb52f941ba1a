#include <gtest/gtest.h>

#include "support/InstrumentedBuild.h"
#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/TestPlayHead.h"

#include <ebur128.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
    constexpr float silent = -1000.0f;   // dBFS of a channel that carries nothing

    // Readings are floats in 0.1 steps: -23.1 lies a hair more than 0.1 from -23.
    constexpr float slack = 0.001f;

    /** A stretch of 1 kHz sine, each channel at its own level in dBFS peak. */
    struct Segment
    {
        std::vector<float> levels;
        double seconds;
    };

    std::vector<Segment> stereo (std::initializer_list<std::pair<float, double>> levelsAndSeconds)
    {
        std::vector<Segment> segments;

        for (const auto& [level, seconds] : levelsAndSeconds)
            segments.push_back ({ { level, level }, seconds });

        return segments;
    }

    enum class Reading { integrated, range };

    struct Programme
    {
        std::string name;
        std::vector<Segment> segments;
        Reading reading;
        float expected;
        float tolerance;
    };

    /** How far we may sit from libebur128: our readings are rounded to 0.1 and
        gated in 0.1 LU bins, and our range takes a short-term value every
        600 ms where the reference takes one every second. */
    float referenceTolerance (Reading reading)
    {
        return reading == Reading::integrated ? 0.1f : 0.2f;
    }

    struct Measured
    {
        float integrated = 0.0f, range = 0.0f;   // as published, after the last block
        float referenceIntegrated = 0.0f, referenceRange = 0.0f;
        float lowestSettledMomentary = 1000.0f, highestSettledMomentary = -1000.0f;
        float lowestSettledShortTerm = 1000.0f, highestSettledShortTerm = -1000.0f;
    };

    struct EbuState
    {
        explicit EbuState (ebur128_state* s) : state (s) {}
        ~EbuState() { ebur128_destroy (&state); }
        ebur128_state* state;
    };

    double secondsOf (const Programme& programme)
    {
        double seconds = 0.0;

        for (const auto& segment : programme.segments)
            seconds += segment.seconds;

        return seconds;
    }

    int numChannelsOf (const Programme& programme)
    {
        return static_cast<int> (programme.segments.front().levels.size());
    }

    /** Plays the programme through processBlock in 50 ms blocks, with one
        measurement step after each block, as a loudness thread that keeps up
        would run them; the same samples go to libebur128. */
    Measured measure (const Programme& programme, double sampleRate, double settledAfterSeconds = 4.0)
    {
        const auto channels = numChannelsOf (programme);
        const auto rate = static_cast<int> (sampleRate);
        const auto blockSize = rate / 20;

        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (channels, channels, sampleRate, blockSize);
        p.prepareToPlay (sampleRate, blockSize);
        p.releaseResources();   // steps run here, one per block
        TestPlayHead playHead;
        p.setPlayHead (&playHead);

        EbuState reference (ebur128_init (static_cast<unsigned> (channels), static_cast<unsigned long> (rate),
                                          EBUR128_MODE_I | EBUR128_MODE_LRA));

        if (channels == 6)
        {
            ebur128_set_channel (reference.state, 3, EBUR128_UNUSED);
            ebur128_set_channel (reference.state, 4, EBUR128_LEFT_SURROUND);
            ebur128_set_channel (reference.state, 5, EBUR128_RIGHT_SURROUND);
        }

        // One second of the sine holds exactly 1000 periods at these rates.
        std::vector<double> sine (static_cast<size_t> (rate));

        for (size_t i = 0; i < sine.size(); ++i)
            sine[i] = std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0 * static_cast<double> (i) / sampleRate);

        juce::AudioBuffer<float> block (channels, blockSize);
        std::vector<float> interleaved (static_cast<size_t> (channels * blockSize));
        juce::MidiBuffer midi;
        Measured result;
        juce::int64 position = 0;
        const auto settledAfter = static_cast<juce::int64> (settledAfterSeconds * sampleRate);

        for (const auto& segment : programme.segments)
        {
            std::vector<float> amplitudes;

            for (auto level : segment.levels)
                amplitudes.push_back (level <= silent ? 0.0f : std::pow (10.0f, level / 20.0f));

            auto remaining = static_cast<juce::int64> (std::llround (segment.seconds * sampleRate));

            while (remaining > 0)
            {
                const auto n = static_cast<int> (std::min<juce::int64> (blockSize, remaining));
                juce::AudioBuffer<float> view (block.getArrayOfWritePointers(), channels, n);

                for (int c = 0; c < channels; ++c)
                {
                    auto* samples = view.getWritePointer (c);

                    for (int i = 0; i < n; ++i)
                    {
                        const auto value = static_cast<float> (static_cast<double> (amplitudes[(size_t) c]) * sine[(size_t) ((position + i) % rate)]);
                        samples[i] = value;
                        interleaved[(size_t) (i * channels + c)] = value;
                    }
                }

                ebur128_add_frames_float (reference.state, interleaved.data(), static_cast<size_t> (n));

                playHead.set (true, position, sampleRate);
                p.processBlock (view, midi);
                p.loudnessModule.updateLoudness();

                position += n;
                remaining -= n;

                if (position >= settledAfter)
                {
                    const auto m = p.readings.momentaryLoudness.load();
                    const auto s = p.readings.shortTermLoudness.load();
                    result.lowestSettledMomentary = std::min (result.lowestSettledMomentary, m);
                    result.highestSettledMomentary = std::max (result.highestSettledMomentary, m);
                    result.lowestSettledShortTerm = std::min (result.lowestSettledShortTerm, s);
                    result.highestSettledShortTerm = std::max (result.highestSettledShortTerm, s);
                }
            }
        }

        // A stopped block publishes what the last step left, and counts nothing.
        juce::AudioBuffer<float> last (channels, 1);
        last.clear();
        playHead.set (false, position, sampleRate);
        p.processBlock (last, midi);

        result.integrated = p.readings.integratedLoudness.load();
        result.range = p.readings.loudnessRange.load();

        double value = 0.0;
        ebur128_loudness_global (reference.state, &value);
        result.referenceIntegrated = static_cast<float> (value);
        ebur128_loudness_range (reference.state, &value);
        result.referenceRange = static_cast<float> (value);

        return result;
    }

    const Programme& programme (const std::string& name)
    {
        const auto surround = std::vector<float> { -28.0f, -28.0f, -24.0f, silent, -30.0f, -30.0f };

        static const std::vector<Programme> all
        {
            { "Tech3341Case1", stereo ({ { -23.0f, 20.0 } }), Reading::integrated, -23.0f, 0.1f },
            { "Tech3341Case2", stereo ({ { -33.0f, 20.0 } }), Reading::integrated, -33.0f, 0.1f },
            { "Tech3341Case3", stereo ({ { -36.0f, 10.0 }, { -23.0f, 60.0 }, { -36.0f, 10.0 } }),
              Reading::integrated, -23.0f, 0.1f },
            { "Tech3341Case4", stereo ({ { -72.0f, 10.0 }, { -36.0f, 10.0 }, { -23.0f, 60.0 }, { -36.0f, 10.0 }, { -72.0f, 10.0 } }),
              Reading::integrated, -23.0f, 0.1f },
            { "Tech3341Case5", stereo ({ { -26.0f, 20.0 }, { -20.0f, 20.1 }, { -26.0f, 20.0 } }),
              Reading::integrated, -23.0f, 0.1f },
            { "Tech3341Case6", { { surround, 20.0 } }, Reading::integrated, -23.0f, 0.1f },
            { "Tech3342Case1", stereo ({ { -20.0f, 20.0 }, { -30.0f, 20.0 } }), Reading::range, 10.0f, 1.0f },
            { "Tech3342Case2", stereo ({ { -20.0f, 20.0 }, { -15.0f, 20.0 } }), Reading::range, 5.0f, 1.0f },
            { "Tech3342Case3", stereo ({ { -40.0f, 20.0 }, { -20.0f, 20.0 } }), Reading::range, 20.0f, 1.0f },
            { "Tech3342Case4", stereo ({ { -50.0f, 20.0 }, { -35.0f, 20.0 }, { -20.0f, 20.0 }, { -35.0f, 20.0 }, { -50.0f, 20.0 } }),
              Reading::range, 15.0f, 1.0f },
        };

        const auto found = std::find_if (all.begin(), all.end(), [&] (const Programme& x) { return x.name == name; });
        jassert (found != all.end());
        return *found;
    }

    struct Run
    {
        std::string programme;
        double sampleRate;
    };

    void PrintTo (const Run& run, std::ostream* out)
    {
        *out << run.programme << " at " << run.sampleRate << " Hz";
    }

    class EndToEndLoudness : public ::testing::TestWithParam<Run> {};

    std::string runName (const ::testing::TestParamInfo<Run>& info)
    {
        return info.param.programme + "At" + std::to_string (static_cast<int> (info.param.sampleRate));
    }
}

//==============================================================================
TEST_P (EndToEndLoudness, MeetsTheReferenceSignalsExpectations)
{
    const auto& run = GetParam();
    const auto& prog = programme (run.programme);

    // These runs are single-threaded, so the race checker learns nothing from
    // the long ones; they only cost minutes there.
    if (isThreadSanitizerBuild && secondsOf (prog) * run.sampleRate > 25.0 * 48000.0)
        GTEST_SKIP() << "long single-threaded programme; measured in the plain build";

    const auto m = measure (prog, run.sampleRate);

    const bool integrated = prog.reading == Reading::integrated;
    const auto ours = integrated ? m.integrated : m.range;
    const auto theirs = integrated ? m.referenceIntegrated : m.referenceRange;

    std::printf ("[ reference ] %s at %d Hz: %s %.2f, libebur128 %.3f, difference %+.3f\n",
                 prog.name.c_str(), static_cast<int> (run.sampleRate), integrated ? "integrated" : "range",
                 static_cast<double> (ours), static_cast<double> (theirs), static_cast<double> (ours - theirs));

    EXPECT_NEAR (ours, prog.expected, prog.tolerance + slack);
    EXPECT_NEAR (ours, theirs, referenceTolerance (prog.reading) + slack);

    // A steady programme also reads steady momentary and short-term values.
    if (prog.segments.size() == 1)
    {
        EXPECT_NEAR (m.lowestSettledMomentary, prog.expected, 0.1f + slack);
        EXPECT_NEAR (m.highestSettledMomentary, prog.expected, 0.1f + slack);
        EXPECT_NEAR (m.lowestSettledShortTerm, prog.expected, 0.1f + slack);
        EXPECT_NEAR (m.highestSettledShortTerm, prog.expected, 0.1f + slack);
    }
}

INSTANTIATE_TEST_SUITE_P (At48k, EndToEndLoudness,
                          ::testing::Values (Run { "Tech3341Case1", 48000.0 }, Run { "Tech3341Case2", 48000.0 },
                                             Run { "Tech3341Case3", 48000.0 }, Run { "Tech3341Case4", 48000.0 },
                                             Run { "Tech3341Case5", 48000.0 }, Run { "Tech3341Case6", 48000.0 },
                                             Run { "Tech3342Case1", 48000.0 }, Run { "Tech3342Case2", 48000.0 },
                                             Run { "Tech3342Case3", 48000.0 }, Run { "Tech3342Case4", 48000.0 }),
                          runName);

INSTANTIATE_TEST_SUITE_P (AtOtherRates, EndToEndLoudness,
                          ::testing::Values (Run { "Tech3341Case6", 44100.0 }, Run { "Tech3342Case2", 44100.0 },
                                             Run { "Tech3341Case1", 88200.0 },
                                             Run { "Tech3341Case1", 96000.0 }, Run { "Tech3342Case1", 96000.0 }),
                          runName);

//==============================================================================
TEST (EndToEndLoudnessThreaded, TheLoudnessThreadKeepsUpAtTwiceRealTime)
{
    using Clock = std::chrono::steady_clock;

    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 2400;
    constexpr int numBlocks = 200;   // 10 s of audio
    const auto blockPeriod = std::chrono::microseconds (25000);   // 50 ms of audio in 25 ms

    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, sampleRate, blockSize);
    p.prepareToPlay (sampleRate, blockSize);   // the engine stays on its thread
    TestPlayHead playHead;
    p.setPlayHead (&playHead);

    const auto amplitude = std::pow (10.0f, -23.0f / 20.0f);
    juce::AudioBuffer<float> block (2, blockSize);
    juce::MidiBuffer midi;
    const auto start = Clock::now();

    for (int b = 0; b < numBlocks; ++b)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < blockSize; ++i)
                block.setSample (c, i, amplitude * static_cast<float> (std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0
                                                                                 * static_cast<double> (i) / sampleRate)));

        const auto position = static_cast<juce::int64> (b) * blockSize;
        playHead.set (true, position, sampleRate);
        p.processBlock (block, midi);

        std::this_thread::sleep_until (start + (b + 1) * blockPeriod);
    }

    EXPECT_NEAR (p.readings.integratedLoudness.load(), -23.0f, 0.1f + slack);
    EXPECT_NEAR (p.readings.momentaryLoudness.load(), -23.0f, 0.1f + slack);
    EXPECT_NEAR (p.readings.shortTermLoudness.load(), -23.0f, 0.1f + slack);
    EXPECT_NEAR (p.readings.loudnessRange.load(), 0.0f, 0.1f + slack);
    EXPECT_EQ (p.readings.measuredSamples.load(), numBlocks * static_cast<double> (blockSize));

    p.releaseResources();
}
