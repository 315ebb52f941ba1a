#include <gtest/gtest.h>

#include "processor/SimdDispatch.h"
#include "processor/TruePeakDetector.h"
#include "support/TestAudio.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
    using Levels = std::array<float, 6>;
    constexpr float silent = -std::numeric_limits<float>::infinity();

    Levels measure (TruePeakDetector& detector, const juce::AudioSampleBuffer& block)
    {
        Levels levels;
        levels.fill (123.0f);
        detector.process (block, levels);
        return levels;
    }

    // The interpolation filter as ITU-R BS.1770-4 Annex 2 lists it, phases 0
    // and 1; phases 3 and 2 are the same taps reversed.
    constexpr double listedPhases[2][12] = {
        { 0.0017089843750, 0.0109863281250, -0.0196533203125, 0.0332031250000, -0.0594482421875, 0.1373291015625,
          0.9721679687500, -0.1022949218750, 0.0476074218750, -0.0266113281250, 0.0148925781250, -0.0083007812500 },
        { -0.0291748046875, 0.0292968750000, -0.0517578125000, 0.0891113281250, -0.1665039062500, 0.4650878906250,
          0.7797851562500, -0.2003173828125, 0.1015625000000, -0.0582275390625, 0.0330810546875, -0.0189208984375 }
    };

    // The largest magnitude over samples [begin, end) of x (silence before
    // it), oversampled the plain way: three zeros after each sample, then the
    // 48-tap filter whose tap 4k + j is tap k of phase j, so that point 4i + j
    // is phase j at sample i. Four phases read every point, two only the odd
    // points (evenly spaced), none the samples themselves.
    double referencePeak (const float* x, int begin, int end, int phases)
    {
        double peak = 0.0;

        for (int i = begin; i < end; ++i)
        {
            if (phases == 0)
                peak = std::max (peak, std::abs ((double) x[i]));
            else
                for (int n = 4 * i + (phases == 2 ? 1 : 0); n < 4 * i + 4; n += 4 / phases)
                {
                    double y = 0.0;

                    for (int m = n % 4; m < 48 && m <= n; m += 4)
                    {
                        const int phase = m % 4, k = m / 4;
                        const auto tap = phase < 2 ? listedPhases[phase][k] : listedPhases[3 - phase][11 - k];
                        y += tap * (double) x[(n - m) / 4];
                    }

                    peak = std::max (peak, std::abs (y));
                }
        }

        return peak;
    }
}

TEST (TruePeakDetector, ReadsTheFiltersTapsAndAgreesWithLibebur128)
{
    // One full-scale sample reads the filter's largest tap when oversampling
    // (the sample itself above 96 kHz, and at other rates whatever the mode
    // before was), and stays in the history for eleven more samples.
    const auto largestTap = (float) (20.0 * std::log10 (0.97216796875));

    for (auto [rate, expected] : std::initializer_list<std::pair<double, float>> {
             { 48000.0, largestTap }, { 96000.0, largestTap }, { 192000.0, 0.0f }, { 32000.0, 0.0f } })
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
        EXPECT_EQ (measure (detector, juce::AudioSampleBuffer (block.getArrayOfWritePointers(), 6, 11))[2] > silent, expected != 0.0f) << rate;
        EXPECT_EQ (measure (detector, juce::AudioSampleBuffer (block.getArrayOfWritePointers(), 6, 1))[2], silent) << rate;

        // No samples, nothing measured: the levels stay.
        Levels levels { 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f };
        detector.process (juce::AudioSampleBuffer (6, 0), levels);
        EXPECT_EQ (levels, (Levels { 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f }));
    }

    // Sines whose crests fall between samples, missed by the samples by 0.1
    // to 0.7 dB, measured after the onset that rings in either interpolator.
    for (double rate : { 44100.0, 48000.0, 88200.0, 96000.0 })
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

            EXPECT_NEAR (ours, 20.0 * std::log10 (theirs), rate < 50000.0 ? 0.2 : 0.5) << rate << " Hz, period " << period;
            EXPECT_LT (20.0 * std::log10 ((double) sine.getMagnitude (0, 0, sine.getNumSamples())), 20.0 * std::log10 (theirs) - 0.1);
        }
    }
}

TEST (TruePeakDetector, MatchesThePlainInterpolationOfEachNamedRate)
{
    // Channel 0: a quarter-rate sine whose crests lie 5/8 of a sample past
    // the samples, on a four-phase point only: two phases (or phases 0 and 1)
    // read it 0.7 dB lower, the samples 1.8 dB lower. Channel 1: noise. Two
    // blocks, the second going on from the first one's history. Channel 2:
    // silence, which nothing of its neighbour may reach.
    juce::Random random (1770);
    juce::AudioSampleBuffer signal (3, 480);
    TestAudio::fillWithNoise (signal, random);
    signal.clear (2, 0, signal.getNumSamples());

    for (int i = 0; i < signal.getNumSamples(); ++i)
        signal.setSample (0, i, 0.5f * (float) std::cos (juce::MathConstants<double>::halfPi * (i - 0.625)));

    for (auto [rate, phases] : std::initializer_list<std::pair<double, int>> {
             { 44100.0, 4 }, { 48000.0, 4 }, { 88200.0, 2 }, { 96000.0, 2 }, { 176400.0, 0 }, { 192000.0, 0 } })
    {
        // Coming from another mode, as when the host changes its rate.
        TruePeakDetector detector;
        detector.prepare (phases == 4 ? 192000.0 : 48000.0, 480);
        detector.prepare (rate, 480);

        for (auto [begin, end] : { std::pair { 0, 100 }, std::pair { 100, 480 } })
        {
            float* channels[] = { signal.getWritePointer (0, begin), signal.getWritePointer (1, begin), signal.getWritePointer (2, begin) };
            const auto levels = measure (detector, juce::AudioSampleBuffer (channels, 3, end - begin));
            EXPECT_EQ (levels[2], -std::numeric_limits<float>::infinity()) << rate << " Hz, samples from " << begin;

            for (int c = 0; c < 2; ++c)
                EXPECT_NEAR (levels[(size_t) c], 20.0 * std::log10 (referencePeak (signal.getReadPointer (c), begin, end, phases)), 1e-4)
                    << rate << " Hz, channel " << c << ", samples from " << begin;
        }
    }
}

TEST (TruePeakDetector, BothKernelsAgreeBitForBitAcrossRatesAndBlocks)
{
    // A rate that is none of the named ones keeps the mode before it.
    juce::Random random (2024);
    TruePeakDetector avx2, portable, twin;
    const double rates[] = { 96000.0, 50000.0, 44100.0, 48000.5, 88200.0, 176400.0, 22050.0, 48000.0 };
    const double twinRates[] = { 96000.0, 96000.0, 44100.0, 44100.0, 88200.0, 176400.0, 176400.0, 48000.0 };
    const int lengths[] = { 1, 7, 64, 512, 4096 };

    for (int round = 0; round < 40; ++round)
    {
        avx2.prepare (rates[round % 8], lengths[round % 5]);
        portable.prepare (rates[round % 8], lengths[round % 5]);
        twin.prepare (twinRates[round % 8], 0);

        for (int b = 0; b < 4; ++b)
        {
            // Stereo to eight channels; now and then an over, or silence.
            juce::AudioSampleBuffer block (2 + random.nextInt (7), lengths[random.nextInt (5)]);
            TestAudio::fillWithNoise (block, random);
            block.applyGain (random.nextInt (4) == 0 ? (random.nextBool() ? 3.0f : 0.0f) : 1.0f);

            SimdDispatch::setAvx2Allowed (false);
            const auto expected = measure (portable, block);
            SimdDispatch::setAvx2Allowed (true);
            EXPECT_EQ (measure (avx2, block), expected) << rates[round % 8] << " Hz, round " << round;
            EXPECT_EQ (measure (twin, block), expected) << rates[round % 8] << " Hz, round " << round;
        }
    }
}
