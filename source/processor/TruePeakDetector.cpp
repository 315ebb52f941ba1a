#include "processor/TruePeakDetector.h"

#include "processor/SimdDispatch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
    // ITU-R BS.1770-4 Annex 2: the four phases of the 48-tap interpolation
    // filter, tap k applying to the sample k steps back.
    constexpr double filterPhases[TruePeakDetector::maxPhases][TruePeakDetector::numTaps] = {
        { 0.0017089843750, 0.0109863281250, -0.0196533203125, 0.0332031250000,
          -0.0594482421875, 0.1373291015625, 0.9721679687500, -0.1022949218750,
          0.0476074218750, -0.0266113281250, 0.0148925781250, -0.0083007812500 },
        { -0.0291748046875, 0.0292968750000, -0.0517578125000, 0.0891113281250,
          -0.1665039062500, 0.4650878906250, 0.7797851562500, -0.2003173828125,
          0.1015625000000, -0.0582275390625, 0.0330810546875, -0.0189208984375 },
        { -0.0189208984375, 0.0330810546875, -0.0582275390625, 0.1015625000000,
          -0.2003173828125, 0.7797851562500, 0.4650878906250, -0.1665039062500,
          0.0891113281250, -0.0517578125000, 0.0292968750000, -0.0291748046875 },
        { -0.0083007812500, 0.0148925781250, -0.0266113281250, 0.0476074218750,
          -0.1022949218750, 0.9721679687500, 0.1373291015625, -0.0594482421875,
          0.0332031250000, -0.0196533203125, 0.0109863281250, 0.0017089843750 }
    };

    constexpr int historyLength = TruePeakDetector::numTaps - 1;

    // One phase's output for the sample at newest; older samples sit below it.
    // Written out so that each output is summed from tap 0 upwards, as a plain
    // loop would, while the caller's loop over the samples vectorises.
    inline double applyPhase (const double* newest, const double* taps) noexcept
    {
        double y = newest[0] * taps[0];
        y += newest[-1] * taps[1];
        y += newest[-2] * taps[2];
        y += newest[-3] * taps[3];
        y += newest[-4] * taps[4];
        y += newest[-5] * taps[5];
        y += newest[-6] * taps[6];
        y += newest[-7] * taps[7];
        y += newest[-8] * taps[8];
        y += newest[-9] * taps[9];
        y += newest[-10] * taps[10];
        y += newest[-11] * taps[11];
        return y;
    }

    template <size_t phases>
    inline __attribute__ ((always_inline)) void interpolateBody (const double* extended, int numSamples,
                                                                 const double (&table)[TruePeakDetector::maxPhases][TruePeakDetector::numTaps],
                                                                 float* peaks) noexcept
    {
        // A local copy tells the compiler that the stores below cannot touch it.
        double rows[phases][TruePeakDetector::numTaps];
        std::memcpy (rows, table, sizeof (rows));

        for (int i = 0; i < numSamples; ++i)
        {
            const double* newest = extended + historyLength + i;
            double p = 0.0;

            for (size_t j = 0; j < phases; ++j)
                p = std::max (p, std::abs (applyPhase (newest, rows[j])));

            peaks[i] = static_cast<float> (p);
        }
    }

    using Table = double[TruePeakDetector::maxPhases][TruePeakDetector::numTaps];

    template <size_t phases>
    void interpolate (const double* extended, int numSamples, const Table& table, float* peaks) noexcept
    {
        interpolateBody<phases> (extended, numSamples, table, peaks);
    }

#if KELT_HAVE_AVX2_KERNELS
    // The same loop built for AVX2: four samples per instruction instead of
    // two, with every sum formed in the same order, so the results are equal.
    template <size_t phases>
    KELT_TARGET_AVX2 void interpolateAvx2 (const double* extended, int numSamples, const Table& table, float* peaks) noexcept
    {
        interpolateBody<phases> (extended, numSamples, table, peaks);
    }
#endif

    template <size_t phases>
    void interpolateDispatched (const double* extended, int numSamples, const Table& table, float* peaks) noexcept
    {
#if KELT_HAVE_AVX2_KERNELS
        if (SimdDispatch::useAvx2())
            return interpolateAvx2<phases> (extended, numSamples, table, peaks);
#endif

        interpolate<phases> (extended, numSamples, table, peaks);
    }
}

TruePeakDetector::TruePeakDetector() = default;
TruePeakDetector::~TruePeakDetector() = default;

void TruePeakDetector::prepare (double newSampleRate, int blockSize)
{
    if (newSampleRate != sampleRate)
    {
        sampleRate = newSampleRate;

        // Exact comparisons: a rate that is not one of these keeps the mode.
        if (newSampleRate == 44100.0 || newSampleRate == 48000.0)
        {
            numPhases = 4;
            std::copy (&filterPhases[0][0], &filterPhases[0][0] + maxPhases * numTaps,
                       &interpolationTable[0][0]);
        }
        else if (newSampleRate == 88200.0 || newSampleRate == 96000.0)
        {
            // Phases 1 and 3 of the four, not 0 and 2.
            numPhases = 2;
            std::copy (std::begin (filterPhases[1]), std::end (filterPhases[1]), interpolationTable[0]);
            std::copy (std::begin (filterPhases[3]), std::end (filterPhases[3]), interpolationTable[1]);
        }
        else if (newSampleRate == 176400.0 || newSampleRate == 192000.0)
        {
            numPhases = 0;
            std::fill (&interpolationTable[0][0], &interpolationTable[0][0] + maxPhases * numTaps, 0.0);
        }
    }

    const auto samples = std::max (0, blockSize);
    workBuffer.setSize (numChannels, samples, false, false, true);
    ensureScratchCapacity (samples);
}

void TruePeakDetector::ensureScratchCapacity (int numSamples)
{
    const auto needed = static_cast<size_t> (numSamples + historyLength);

    if (needed > extendedInput.size())
        extendedInput.resize (needed);
}

void TruePeakDetector::process (const juce::AudioSampleBuffer& input, std::array<float, numChannels>& levels)
{
    const auto numSamples = input.getNumSamples();

    if (numSamples <= 0)
        return;

    // Grows only for a block longer than any before; a shorter one reuses
    // the storage.
    workBuffer.setSize (numChannels, numSamples, false, false, true);
    ensureScratchCapacity (numSamples);

    const auto numInputChannels = std::min (input.getNumChannels(), numChannels);

    for (int c = 0; c < numChannels; ++c)
    {
        const float* samples = c < numInputChannels ? input.getReadPointer (c) : nullptr;
        float* peaks = workBuffer.getWritePointer (c);

        if (numPhases == 0)
        {
            // Sample peak; the history stays as it is.
            if (samples != nullptr)
                for (int i = 0; i < numSamples; ++i)
                    peaks[i] = std::abs (samples[i]);
            else
                std::fill (peaks, peaks + numSamples, 0.0f);
        }
        else
        {
            interpolateChannel (c, samples, numSamples, peaks);
        }

        const auto magnitude = static_cast<double> (workBuffer.getMagnitude (c, 0, numSamples));
        levels[static_cast<size_t> (c)] = static_cast<float> (20.0 * std::log10 (magnitude));
    }
}

void TruePeakDetector::interpolateChannel (int channel, const float* samples, int numSamples, float* peaks) noexcept
{
    auto& line = delayLines[static_cast<size_t> (channel)];

    // Silence in and silence behind: every output is zero, so the filter has
    // nothing to add. Channels a stereo or 5.0 stream leaves empty cost
    // almost nothing this way.
    const auto isZero = [] (auto x) { return x == 0; };

    if (std::all_of (line.begin(), line.end(), isZero)
        && (samples == nullptr || std::all_of (samples, samples + numSamples, isZero)))
    {
        std::fill (peaks, peaks + numSamples, 0.0f);
        return;
    }

    double* extended = extendedInput.data();

    // Oldest first: the eleven samples before the block, then the block.
    for (int k = 0; k < historyLength; ++k)
        extended[historyLength - 1 - k] = line[static_cast<size_t> (k)];

    double* block = extended + historyLength;

    if (samples != nullptr)
        for (int i = 0; i < numSamples; ++i)
            block[i] = static_cast<double> (samples[i]);
    else
        std::fill (block, block + numSamples, 0.0);

    if (numPhases == 4)
        interpolateDispatched<4> (extended, numSamples, interpolationTable, peaks);
    else
        interpolateDispatched<2> (extended, numSamples, interpolationTable, peaks);

    // The last twelve samples, newest first, as the next block expects them.
    const double* newest = block + numSamples - 1;

    for (int k = 0; k < numTaps; ++k)
        line[static_cast<size_t> (k)] = newest[-k];
}
