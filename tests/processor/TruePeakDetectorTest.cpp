#include <gtest/gtest.h>

#include "processor/SimdDispatch.h"
#include "processor/TruePeakDetector.h"
#include "support/TestAudio.h"

#include <cmath>
#include <limits>
#include <vector>

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

    /** One channel's level the plain way: the largest of the phases used
        (none: the sample peak) over the block's samples, each phase summed
        over the last twelve samples. */
    float plainLevel (const std::vector<float>& samples, size_t numInBlock, const std::vector<int>& phases)
    {
        double peak = 0.0;

        for (auto n = samples.size() - numInBlock; n < samples.size(); ++n)
        {
            if (phases.empty())
                peak = std::max (peak, (double) std::abs (samples[n]));

            for (auto p : phases)
            {
                double y = 0.0;

                for (size_t k = 0; k < 12 && k <= n; ++k)
                    y += (double) samples[n - k] * (p == 0 ? phase0[k] : p == 1 ? phase1[k]
                                                                     : p == 2   ? phase1[11 - k]
                                                                                : phase0[11 - k]);

                peak = std::max (peak, (double) (float) std::abs (y));
            }
        }

        return (float) (20.0 * std::log10 (peak));
    }

    Levels measure (TruePeakDetector& detector, const juce::AudioSampleBuffer& block)
    {
        Levels levels;
        levels.fill (123.0f);
        detector.process (block, levels);
        return levels;
    }
}

TEST (TruePeakDetector, OversamplesFourOrTwiceAtTheNamedRatesAndKeepsTheModeElsewhere)
{
    juce::Random random (7);
    TruePeakDetector detector, portable;
    std::vector<float> history;

    // The sample peak leaves the history alone, so it comes first and last.
    for (auto [rate, mode] : std::initializer_list<std::pair<double, int>> { { 32000.0, 0 }, { 48000.0, 4 }, { 50000.0, 4 }, { 96000.0, 2 }, { 44100.0, 4 }, { 88200.0, 2 }, { 48000.5, 2 }, { 192000.0, 0 }, { 176400.0, 0 } })
    {
        detector.prepare (rate, 256);
        portable.prepare (rate, 256);
        // Eight channels: the sixth doubles the first, the middle ones are
        // silent, and the two beyond six are not measured.
        juce::AudioSampleBuffer block (8, 256);
        TestAudio::fillWithNoise (block, random);
        block.copyFrom (5, 0, block, 0, 0, 256);
        block.clear (1, 0, 256);
        block.clear (2, 0, 256);
        history.insert (history.end(), block.getReadPointer (0), block.getReadPointer (0) + 256);
        const auto phases = mode == 4 ? std::vector<int> { 0, 1, 2, 3 } : mode == 2 ? std::vector<int> { 1, 3 }
                                                                                    : std::vector<int>();
        const auto expected = plainLevel (history, 256, phases);
        const auto levels = measure (detector, block);
        EXPECT_TRUE (levels[0] == expected && levels[5] == expected && levels[1] == silent && levels[2] == silent && levels[3] > -12.0f) << rate;
        SimdDispatch::setAvx2Allowed (false);
        EXPECT_EQ (measure (portable, block)[0], expected) << rate << ", portable";
        SimdDispatch::setAvx2Allowed (true);

        if (mode == 0)
            history.clear();
    }
}
