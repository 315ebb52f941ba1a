#include <gtest/gtest.h>

#include "processor/SimdDispatch.h"
#include "processor/TruePeakDetector.h"
#include "support/AllocationCounter.h"
#include "support/TestAudio.h"

#include <ebur128.h>

#include <cmath>
#include <deque>
#include <limits>

namespace
{
    using Levels = std::array<float, 6>;
    constexpr float silent = -std::numeric_limits<float>::infinity();

    // ITU-R BS.1770-4 Annex 2: phases 0 and 1 of the interpolation filter;
    // phases 3 and 2 are their reverses.
    constexpr double phase0[12] = { 0.0017089843750, 0.0109863281250, -0.0196533203125, 0.0332031250000, -0.0594482421875, 0.1373291015625,
                                    0.9721679687500, -0.1022949218750, 0.0476074218750, -0.0266113281250, 0.0148925781250, -0.0083007812500 };
    constexpr double phase1[12] = { -0.0291748046875, 0.0292968750000, -0.0517578125000, 0.0891113281250, -0.1665039062500, 0.4650878906250,
                                    0.7797851562500, -0.2003173828125, 0.1015625000000, -0.0582275390625, 0.0330810546875, -0.0189208984375 };

    /** The detector written the plain way, sample by sample, as the oracle. */
    struct PlainDetector
    {
        int phases = 0;   // 4, 2 (phases 1 and 3), or 0 for the sample peak
        std::deque<double> history[6];

        Levels process (const juce::AudioSampleBuffer& input)
        {
            Levels levels;

            for (int c = 0; c < 6; ++c)
            {
                history[c].resize (12);
                double peak = 0.0;

                for (int i = 0; i < input.getNumSamples(); ++i)
                {
                    const auto x = c < input.getNumChannels() ? (double) input.getSample (c, i) : 0.0;

                    if (phases == 0)
                    {
                        peak = std::max (peak, (double) std::abs ((float) x));
                        continue;
                    }

                    history[c].push_front (x);
                    history[c].pop_back();

                    for (int row = phases == 4 ? 0 : 1; row < 4; row += phases == 4 ? 1 : 2)
                    {
                        double y = 0.0;

                        for (size_t k = 0; k < 12; ++k)
                            y += history[c][k] * (row == 0 ? phase0[k] : row == 1 ? phase1[k] : row == 2 ? phase1[11 - k] : phase0[11 - k]);

                        peak = std::max (peak, (double) (float) std::abs (y));
                    }
                }

                levels[(size_t) c] = (float) (20.0 * std::log10 (peak));
            }

            return levels;
        }
    };

    Levels measure (TruePeakDetector& detector, const juce::AudioSampleBuffer& block)
    {
        Levels levels;
        levels.fill (123.0f);
        detector.process (block, levels);
        return levels;
    }

    juce::AudioSampleBuffer noise (int channels, int samples, juce::Random& random)
    {
        juce::AudioSampleBuffer buffer (channels, samples);
        TestAudio::fillWithNoise (buffer, random);
        return buffer;
    }
}

TEST (TruePeakDetector, MatchesThePlainFormBitForBitAcrossRatesBlocksAndKernels)
{
    for (bool avx2 : { true, false })
    {
        SimdDispatch::setAvx2Allowed (avx2);
        juce::Random random (2024);
        TruePeakDetector detector;
        PlainDetector plain;

        // A rate that is none of the named ones keeps the mode before it (the
        // sample peak on a new detector).
        const std::pair<double, int> rates[] = { { 32000.0, 0 }, { 96000.0, 2 }, { 50000.0, 2 }, { 44100.0, 4 }, { 48000.0, 4 },
                                                 { 48000.5, 4 }, { 88200.0, 2 }, { 176400.0, 0 }, { 192000.0, 0 }, { 22050.0, 0 } };
        const int lengths[] = { 1, 7, 64, 512, 4096 };

        for (int round = 0; round < 40; ++round)
        {
            const auto [rate, phases] = rates[round % 10];
            detector.prepare (rate, lengths[random.nextInt (5)]);
            plain.phases = phases;

            for (int b = 0; b < 4; ++b)
            {
                // Stereo to eight channels; now and then an over, or silence.
                auto block = noise (2 + random.nextInt (7), lengths[random.nextInt (5)], random);

                if (random.nextInt (4) == 0)
                    block.applyGain (random.nextBool() ? 3.0f : 0.0f);

                EXPECT_EQ (measure (detector, block), plain.process (block)) << rate << " Hz, round " << round << (avx2 ? ", AVX2" : "");
            }
        }
    }

    SimdDispatch::setAvx2Allowed (true);
}

TEST (TruePeakDetector, ReadsPublishedValuesAndAgreesWithLibebur128)
{
    // One full-scale sample reads the filter's largest tap when oversampling,
    // and stays in the history for eleven more samples.
    const auto largestTap = (float) (20.0 * std::log10 (0.97216796875));

    for (auto [rate, expected] : { std::pair { 48000.0, largestTap }, std::pair { 96000.0, largestTap }, std::pair { 192000.0, 0.0f } })
    {
        TruePeakDetector detector;
        detector.prepare (rate, 64);
        juce::AudioSampleBuffer block (6, 64);
        block.clear();
        block.setSample (2, 20, 1.0f);
        EXPECT_EQ (measure (detector, block), (Levels { silent, silent, expected, silent, silent, silent })) << rate;

        block.clear();
        block.setSample (2, 63, 1.0f);
        measure (detector, block);
        block.clear();
        const auto tail = measure (detector, juce::AudioSampleBuffer (block.getArrayOfWritePointers(), 6, 11));
        EXPECT_EQ (tail[2] > silent, rate < 192000.0) << rate;
        EXPECT_EQ (measure (detector, juce::AudioSampleBuffer (block.getArrayOfWritePointers(), 6, 1))[2], silent) << rate;

        // No samples, nothing measured: the levels stay.
        Levels levels { 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f };
        detector.process (juce::AudioSampleBuffer (6, 0), levels);
        EXPECT_EQ (levels, (Levels { 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f }));
    }

    // Sines whose crests fall between samples, missed by the samples by 0.1
    // to 0.7 dB, after the onset that rings in either interpolator.
    for (double rate : { 44100.0, 48000.0 })
    {
        for (double period : { 8.0, 10.0, 16.0, 20.0 })
        {
            juce::AudioSampleBuffer sine (1, (int) rate);

            for (int i = 0; i < sine.getNumSamples(); ++i)
                sine.setSample (0, i, 0.5f * (float) std::cos (juce::MathConstants<double>::twoPi * (i + 0.5) / period));

            auto* state = ebur128_init (1, (unsigned long) rate, EBUR128_MODE_TRUE_PEAK);
            ebur128_add_frames_float (state, sine.getReadPointer (0), 4800);
            ebur128_add_frames_float (state, sine.getReadPointer (0, 4800), (size_t) sine.getNumSamples() - 4800);
            double theirs = 0.0;
            ebur128_prev_true_peak (state, 0, &theirs);
            ebur128_destroy (&state);

            TruePeakDetector detector;
            detector.prepare (rate, 4800);
            measure (detector, juce::AudioSampleBuffer (sine.getArrayOfWritePointers(), 1, 4800));
            auto* steady = sine.getWritePointer (0, 4800);
            const auto ours = measure (detector, juce::AudioSampleBuffer (&steady, 1, sine.getNumSamples() - 4800))[0];

            EXPECT_NEAR (ours, 20.0 * std::log10 (theirs), 0.2) << rate << " Hz, period " << period;
            EXPECT_LT (20.0 * std::log10 ((double) sine.getMagnitude (0, 0, sine.getNumSamples())), 20.0 * std::log10 (theirs) - 0.1);
        }
    }
}

TEST (TruePeakDetector, AllocatesNothingAtASteadyOrShorterBlockSize)
{
    juce::Random random (5);
    Levels levels;

    for (double rate : { 48000.0, 96000.0, 192000.0 })
    {
        TruePeakDetector detector;
        detector.prepare (rate, 512);
        const auto block = noise (6, 512, random), shorter = noise (6, 100, random);
        const ScopedAllocationCounter allocations;

        for (int i = 0; i < 100; ++i)
            detector.process (i % 10 == 0 ? shorter : block, levels);

        EXPECT_EQ (allocations.getCount(), 0u) << rate;
    }
}
