#include <gtest/gtest.h>

#include "processor/SimdDispatch.h"
#include "processor/TruePeakDetector.h"
#include "support/AllocationCounter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <vector>

namespace
{
    using Levels = std::array<float, 6>;

    constexpr float minusInfinity = -std::numeric_limits<float>::infinity();

    /** The detector written the plain way, one deque per channel, as the
        oracle for the vectorised one. */
    class ReferenceDetector
    {
    public:
        ReferenceDetector()
        {
            // The filter's phases 0 and 1; 2 and 3 are their reverses.
            const double phase0[12] = { 0.0017089843750,  0.0109863281250, -0.0196533203125,  0.0332031250000,
                                       -0.0594482421875,  0.1373291015625,  0.9721679687500, -0.1022949218750,
                                        0.0476074218750, -0.0266113281250,  0.0148925781250, -0.0083007812500 };
            const double phase1[12] = { -0.0291748046875,  0.0292968750000, -0.0517578125000,  0.0891113281250,
                                        -0.1665039062500,  0.4650878906250,  0.7797851562500, -0.2003173828125,
                                         0.1015625000000, -0.0582275390625,  0.0330810546875, -0.0189208984375 };

            for (size_t k = 0; k < 12; ++k)
            {
                phases[0][k] = phase0[k];
                phases[1][k] = phase1[k];
                phases[2][k] = phase1[11 - k];
                phases[3][k] = phase0[11 - k];
            }
        }

        /** 4: all phases; 2: phases 1 and 3; 0: sample peak. */
        void setMode (int numPhases) { rows = numPhases == 4 ? std::vector<int> { 0, 1, 2, 3 }
                                                            : numPhases == 2 ? std::vector<int> { 1, 3 }
                                                                             : std::vector<int> {}; }

        Levels process (const juce::AudioSampleBuffer& input)
        {
            const int n = input.getNumSamples();
            juce::AudioSampleBuffer work (6, n);
            work.clear();

            for (int c = 0; c < std::min (6, input.getNumChannels()); ++c)
                work.copyFrom (c, 0, input, c, 0, n);

            Levels levels {};

            for (int c = 0; c < 6; ++c)
            {
                auto& line = lines[static_cast<size_t> (c)];

                for (int i = 0; i < n; ++i)
                {
                    const float x = work.getSample (c, i);
                    double p = 0.0;

                    if (rows.empty())
                    {
                        p = std::abs (static_cast<double> (x));
                    }
                    else
                    {
                        line.push_front (static_cast<double> (x));
                        line.pop_back();

                        for (int row : rows)
                        {
                            double y = 0.0;
                            for (size_t k = 0; k < 12; ++k)
                                y += line[k] * phases[static_cast<size_t> (row)][k];
                            p = std::max (p, std::abs (y));
                        }
                    }

                    work.setSample (c, i, static_cast<float> (p));
                }

                levels[static_cast<size_t> (c)] =
                    static_cast<float> (20.0 * std::log10 (static_cast<double> (work.getMagnitude (c, 0, n))));
            }

            return levels;
        }

    private:
        std::array<std::array<double, 12>, 4> phases {};
        std::vector<int> rows;
        std::vector<std::deque<double>> lines { 6, std::deque<double> (12, 0.0) };
    };

    juce::AudioSampleBuffer makeNoise (int channels, int samples, juce::Random& random)
    {
        juce::AudioSampleBuffer buffer (channels, samples);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < samples; ++i)
                buffer.setSample (c, i, random.nextFloat() * 2.0f - 1.0f);
        return buffer;
    }

    juce::AudioSampleBuffer makeSilence (int channels, int samples)
    {
        juce::AudioSampleBuffer buffer (channels, samples);
        buffer.clear();
        return buffer;
    }

    Levels measure (TruePeakDetector& detector, const juce::AudioSampleBuffer& block)
    {
        Levels levels;
        levels.fill (123.0f);
        detector.process (block, levels);
        return levels;
    }

    void expectSameLevels (const Levels& actual, const Levels& expected, const std::string& where)
    {
        for (size_t c = 0; c < 6; ++c)
            EXPECT_EQ (actual[c], expected[c]) << where << ", channel " << c;
    }

    // The quarter-rate sine whose samples are all +-0.70710678, -3.01 dBFS.
    juce::AudioSampleBuffer makeQuarterRateSine (int samples, int startIndex)
    {
        const float pattern[4] = { 0.70710678f, 0.70710678f, -0.70710678f, -0.70710678f };
        auto buffer = makeSilence (6, samples);
        for (int i = 0; i < samples; ++i)
            buffer.setSample (0, i, pattern[(startIndex + i) % 4]);
        return buffer;
    }

    /** One second of a sine with the given period in samples, whose crests
        fall halfway between two samples. */
    std::vector<float> makeSineBetweenSamples (double rate, double period, float amplitude)
    {
        std::vector<float> samples (static_cast<size_t> (rate));

        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = amplitude * static_cast<float> (std::cos (juce::MathConstants<double>::twoPi
                                                                   * (static_cast<double> (i) + 0.5) / period));
        return samples;
    }

    // Both measurements skip the first blocks: a sine that starts abruptly
    // rings in either interpolator.
    constexpr size_t sineBlockSize = 480;
    constexpr size_t sineOnsetSamples = 10 * sineBlockSize;

    float highestSteadyLevel (TruePeakDetector& detector, const std::vector<float>& samples)
    {
        auto block = makeSilence (1, static_cast<int> (sineBlockSize));
        float highest = minusInfinity;

        for (size_t start = 0; start + sineBlockSize <= samples.size(); start += sineBlockSize)
        {
            block.copyFrom (0, 0, samples.data() + start, static_cast<int> (sineBlockSize));
            const auto level = measure (detector, block)[0];

            if (start >= sineOnsetSamples)
                highest = std::max (highest, level);
        }

        return highest;
    }

    double ebur128SteadyTruePeak (double rate, const std::vector<float>& samples)
    {
        auto* state = ebur128_init (1, static_cast<unsigned long> (rate), EBUR128_MODE_TRUE_PEAK);
        ebur128_add_frames_float (state, samples.data(), sineOnsetSamples);
        ebur128_add_frames_float (state, samples.data() + sineOnsetSamples, samples.size() - sineOnsetSamples);
        double peak = 0.0;
        ebur128_prev_true_peak (state, 0, &peak);
        ebur128_destroy (&state);
        return 20.0 * std::log10 (peak);
    }
}

//==============================================================================
TEST (TruePeakDetector, SingleFullScaleSampleReadsTheLargestTapOrUnity)
{
    const auto largestTap = static_cast<float> (20.0 * std::log10 (0.97216796875));
    EXPECT_NEAR (static_cast<double> (largestTap), -0.2452, 1.0e-4);

    for (auto [rate, expected] : { std::pair { 48000.0, largestTap },
                                   std::pair { 96000.0, largestTap },
                                   std::pair { 192000.0, 0.0f } })
    {
        TruePeakDetector detector;
        detector.prepare (rate, 64);
        measure (detector, makeSilence (6, 64));

        auto block = makeSilence (6, 64);
        block.setSample (0, 20, 1.0f);
        const auto levels = measure (detector, block);

        EXPECT_EQ (levels[0], expected) << rate;
        for (size_t c = 1; c < 6; ++c)
            EXPECT_EQ (levels[c], minusInfinity) << rate << ", channel " << c;
    }
}

TEST (TruePeakDetector, QuarterRateSineOvershootsByTheFiltersGain)
{
    TruePeakDetector detector;
    detector.prepare (48000.0, 64);

    // From a silent history the filter's onset ripple adds to the peak:
    // +0.0826 dBTP; once the history holds only the sine: +0.0447 dBTP.
    const auto first = measure (detector, makeQuarterRateSine (64, 0));
    EXPECT_NEAR (static_cast<double> (first[0]), 0.0826477, 1.0e-6);

    const auto steady = measure (detector, makeQuarterRateSine (64, 64));
    EXPECT_NEAR (static_cast<double> (steady[0]), 0.0446914, 1.0e-6);
}

TEST (TruePeakDetector, SilenceReadsMinusInfinityOnceTheHistoryHasDrained)
{
    TruePeakDetector fresh;
    fresh.prepare (48000.0, 32);
    expectSameLevels (measure (fresh, makeSilence (6, 32)), Levels { minusInfinity, minusInfinity, minusInfinity,
                                                                     minusInfinity, minusInfinity, minusInfinity }, "fresh");

    juce::Random random (7);
    TruePeakDetector detector;
    detector.prepare (48000.0, 64);
    measure (detector, makeNoise (6, 64, random));

    // The eleventh silent sample still sees the last loud one, the twelfth not.
    const auto tail = measure (detector, makeSilence (6, 11));
    for (size_t c = 0; c < 6; ++c)
        EXPECT_GT (tail[c], minusInfinity);

    const auto drained = measure (detector, makeSilence (6, 1));
    for (size_t c = 0; c < 6; ++c)
        EXPECT_EQ (drained[c], minusInfinity);
}

TEST (TruePeakDetector, MeasuresExactlySixChannelPositions)
{
    juce::Random random (11);
    TruePeakDetector detector;
    detector.prepare (48000.0, 128);

    // Stereo input: the other four positions are silent.
    const auto stereo = measure (detector, makeNoise (2, 128, random));
    EXPECT_GT (stereo[0], -20.0f);
    EXPECT_GT (stereo[1], -20.0f);
    for (size_t c = 2; c < 6; ++c)
        EXPECT_EQ (stereo[c], minusInfinity);

    // Eight channels: a loud seventh and eighth are not measured.
    auto eight = makeSilence (8, 128);
    eight.copyFrom (6, 0, makeNoise (2, 128, random), 0, 0, 128);
    eight.copyFrom (7, 0, makeNoise (2, 128, random), 1, 0, 128);
    measure (detector, makeSilence (6, 12));

    for (auto level : measure (detector, eight))
        EXPECT_EQ (level, minusInfinity);
}

TEST (TruePeakDetector, ModeFollowsOnlyTheNamedRates)
{
    juce::Random random (3);

    struct Step { double rate; int expectedPhases; };

    auto runSequence = [&random] (std::initializer_list<Step> steps, const char* name)
    {
        TruePeakDetector detector;
        ReferenceDetector reference;

        for (const auto& step : steps)
        {
            detector.prepare (step.rate, 256);
            reference.setMode (step.expectedPhases);

            for (int b = 0; b < 3; ++b)
            {
                const auto block = makeNoise (6, 256, random);
                expectSameLevels (measure (detector, block), reference.process (block),
                                  std::string (name) + " at " + juce::String (step.rate, 1).toStdString());
            }
        }
    };

    runSequence ({ { 32000.0, 0 }, { 96000.0, 2 }, { 50000.0, 2 }, { 44100.0, 4 } }, "sequence");
    runSequence ({ { 48000.0, 4 }, { 48000.5, 4 }, { 88200.0, 2 }, { 48000.5, 2 }, { 176400.0, 0 }, { 22050.0, 0 } }, "off-grid");
    runSequence ({ { 48000.5, 0 }, { 192000.0, 0 }, { 44100.0, 4 } }, "first rate off-grid");
}

TEST (TruePeakDetector, MatchesThePlainFormBitForBitAcrossBlocksAndModes)
{
  for (bool avx2 : { true, false })
  {
    SimdDispatch::setAvx2Allowed (avx2);
    SCOPED_TRACE (avx2 ? "AVX2 kernels where available" : "portable kernels");

    juce::Random random (2024);
    TruePeakDetector detector;
    ReferenceDetector reference;

    const double rates[] = { 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0 };
    const int modes[] = { 4, 4, 2, 2, 0, 0 };
    const int lengths[] = { 1, 7, 64, 512, 4096 };
    const int channelCounts[] = { 6, 6, 6, 2, 8 };

    for (int round = 0; round < 40; ++round)
    {
        const auto r = static_cast<size_t> (random.nextInt (6));
        detector.prepare (rates[r], lengths[random.nextInt (5)]);
        reference.setMode (modes[r]);

        for (int b = 0; b < 4; ++b)
        {
            const int length = lengths[random.nextInt (5)];
            auto block = makeNoise (channelCounts[random.nextInt (5)], length, random);

            // Now and then an over, or silence, to reach both ends of the range.
            if (random.nextInt (4) == 0)
                block.applyGain (random.nextFloat() < 0.5f ? 3.0f : 0.0f);

            expectSameLevels (measure (detector, block), reference.process (block),
                              "round " + std::to_string (round) + ", block " + std::to_string (b));
        }
    }
  }

    SimdDispatch::setAvx2Allowed (true);
}

TEST (TruePeakDetector, AgreesWithLibebur128OnSinesBetweenSamples)
{
    for (double rate : { 44100.0, 48000.0 })
    {
        // 6 kHz down to 2.2 kHz, each missed by the samples by 0.1 to 0.7 dB.
        // (The four-phase filter's own ripple reaches 0.3 dB near rate / 6,
        // so that is no place to compare two different interpolators.)
        for (double period : { 8.0, 10.0, 16.0, 20.0 })
        {
            const auto sine = makeSineBetweenSamples (rate, period, 0.5f);

            TruePeakDetector detector;
            detector.prepare (rate, static_cast<int> (sineBlockSize));
            const auto ours = static_cast<double> (highestSteadyLevel (detector, sine));
            const auto theirs = ebur128SteadyTruePeak (rate, sine);

            TruePeakDetector samplePeak;
            samplePeak.prepare (192000.0, static_cast<int> (sineBlockSize));
            const auto sampled = static_cast<double> (highestSteadyLevel (samplePeak, sine));

            EXPECT_NEAR (ours, theirs, 0.2) << rate << " Hz rate, period " << period;
            EXPECT_LT (sampled, theirs - 0.1) << rate << " Hz rate, period " << period;
        }
    }
}

TEST (TruePeakDetector, AllocatesNothingOnTheAudioPathAtASteadyBlockSize)
{
    juce::Random random (5);
    Levels levels;

    for (double rate : { 48000.0, 96000.0, 192000.0 })
    {
        TruePeakDetector detector;
        detector.prepare (rate, 512);
        const auto block = makeNoise (6, 512, random);
        const auto shorter = makeNoise (6, 100, random);

        ScopedAllocationCounter allocations;

        for (int i = 0; i < 200; ++i)
            detector.process (block, levels);

        // A shorter block, and back: the storage is reused.
        detector.process (shorter, levels);
        detector.process (block, levels);

        EXPECT_EQ (allocations.getCount(), 0u) << rate;
    }
}

TEST (TruePeakDetector, EmptyBlocksAndOddBlockSizesAreHarmless)
{
    juce::Random random (9);
    TruePeakDetector detector;
    ReferenceDetector reference;
    reference.setMode (4);

    // A host may announce a block size of zero or less; the first real block
    // then sizes the buffers.
    detector.prepare (48000.0, -1);
    detector.prepare (48000.0, 0);

    const auto block = makeNoise (6, 300, random);
    expectSameLevels (measure (detector, block), reference.process (block), "after zero block size");

    // No samples, nothing measured: the levels and the history are untouched.
    Levels levels { 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f };
    detector.process (makeSilence (6, 0), levels);
    expectSameLevels (levels, Levels { 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f }, "empty block");

    const auto next = makeNoise (6, 5, random);
    expectSameLevels (measure (detector, next), reference.process (next), "after empty block");
}
