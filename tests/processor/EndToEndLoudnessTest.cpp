#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/LoudnessRounding.h"
#include "processor/SimdDispatch.h"
#include "support/InstrumentedBuild.h"
#include "support/PlayingHost.h"

#include <ebur128.h>

#include <cmath>
#include <tuple>
#include <vector>

// The published reference programmes, played through the processor as a host
// plays them (a loudness step after every 50 ms block) and as a host renders
// them offline (blocks as fast as they are taken): both must read what the
// programmes are published to read, agree with libebur128, and agree with
// each other to the last bit.

namespace
{
    using Tone = ToneProgramme::Tone;

    struct Programme
    {
        const char* name;
        std::vector<Tone> tones; // 1 kHz sines, peak level in dBFS
        std::vector<double> channelGainsDb; // one per channel
        bool range; // the reading published: the loudness range, or else the integrated loudness
        float expected, tolerance;
    };

    std::vector<Tone> sines (std::initializer_list<std::pair<double, double>> levelsAndSeconds)
    {
        std::vector<Tone> tones;

        for (auto [level, seconds] : levelsAndSeconds)
            tones.push_back ({ level, 1000.0, seconds });

        return tones;
    }

    const std::vector<double> stereo { 0.0, 0.0 };

    const Programme tech3341[] {
        { "Tech3341Case1", sines ({ { -23.0, 20.0 } }), stereo, false, -23.0f, 0.1f },
        { "Tech3341Case4", sines ({ { -72.0, 10.0 }, { -36.0, 10.0 }, { -23.0, 60.0 }, { -36.0, 10.0 }, { -72.0, 10.0 } }),
          stereo, false, -23.0f, 0.1f },
        { "Tech3341Case5", sines ({ { -26.0, 20.0 }, { -20.0, 20.1 }, { -26.0, 20.0 } }), stereo, false, -23.0f, 0.1f },
        { "Tech3341Case6", sines ({ { 0.0, 20.0 } }), { -28.0, -28.0, -24.0, -400.0, -30.0, -30.0 }, false, -23.0f, 0.1f },
        { "Tech3341Case6In5point0", sines ({ { 0.0, 20.0 } }), { -28.0, -28.0, -24.0, -30.0, -30.0 }, false, -23.0f, 0.1f },
    };

    const Programme tech3342[] {
        { "Tech3342Case1", sines ({ { -20.0, 20.0 }, { -30.0, 20.0 } }), stereo, true, 10.0f, 1.0f },
        { "Tech3342Case2", sines ({ { -20.0, 20.0 }, { -15.0, 20.0 } }), stereo, true, 5.0f, 1.0f },
        { "Tech3342Case4", sines ({ { -50.0, 20.0 }, { -35.0, 20.0 }, { -20.0, 20.0 }, { -35.0, 20.0 }, { -50.0, 20.0 } }),
          stereo, true, 15.0f, 1.0f },
    };

    struct Measurement
    {
        MeterReadings::Values readings;
        int momentaryCount, shortTermCount; // counted while playing
        double referenceIntegrated = 0.0, referenceRange = 0.0;
    };

    int totalCount (const LoudnessHistogram& histogram)
    {
        float total = 0.0f;

        for (int i = 0; i < LoudnessHistogram::numBins; ++i)
            total += histogram.getCount (i);

        return static_cast<int> (total);
    }

    enum class Mode
    {
        paced, // the test runs a step after every block
        offline, // the loudness thread stays attached, the host renders offline
        fast // a host rendering fast in real-time mode, with the audio thread alone
    };

    /** Plays the programme; blockSize 0 picks random lengths up to two seconds.
        Below 50 kHz offline renders use the portable kernels, which must give
        the AVX2 kernels' results bit for bit. */
    Measurement render (const Programme& programme, double rate, int blockSize, Mode mode)
    {
        SimdDispatch::setAvx2Allowed (! (mode == Mode::offline && rate < 50000.0));
        const auto channels = static_cast<int> (programme.channelGainsDb.size());
        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (channels, channels, rate, juce::jmax (blockSize, 512));
        p.setNonRealtime (mode == Mode::offline);
        p.prepareToPlay (rate, juce::jmax (blockSize, 512));

        if (mode != Mode::offline)
            p.releaseResources();

        auto* reference = ebur128_init ((unsigned) channels, (unsigned long) rate, EBUR128_MODE_I | EBUR128_MODE_LRA);

        // 5.1 and 5.0 in their canonical orders: L, R, C, (LFE,) Ls, Rs.
        if (channels >= 5)
        {
            ebur128_set_channel (reference, 3, channels == 6 ? EBUR128_UNUSED : EBUR128_LEFT_SURROUND);
            ebur128_set_channel (reference, (unsigned) channels - 2, EBUR128_LEFT_SURROUND);
            ebur128_set_channel (reference, (unsigned) channels - 1, EBUR128_RIGHT_SURROUND);
        }

        ToneProgramme source (programme.tones, rate);
        PlayingHost host (p, rate);
        juce::Random random (3);
        juce::AudioBuffer<float> block (channels, 96000);
        std::vector<float> frames;

        for (;;)
        {
            const auto length = blockSize > 0 ? blockSize : random.nextInt (10) < 2 ? 0
                                                                                    : random.nextInt (96000) + 1;
            juce::AudioBuffer<float> room (block.getArrayOfWritePointers(), channels, length);
            const auto n = source.fill (room);

            if (n == 0 && length > 0)
                break;

            juce::AudioBuffer<float> part (block.getArrayOfWritePointers(), channels, n);
            frames.resize ((size_t) (n * channels));

            for (int c = 0; c < channels; ++c)
            {
                part.applyGain (c, 0, n, (float) juce::Decibels::decibelsToGain (programme.channelGainsDb[(size_t) c], -300.0));

                for (int i = 0; i < n; ++i)
                    frames[(size_t) (i * channels + c)] = part.getSample (c, i);
            }

            ebur128_add_frames_float (reference, frames.data(), (size_t) n);
            EXPECT_TRUE (host.play (part));

            if (mode == Mode::paced)
                p.loudnessModule.updateLoudness();
        }

        // What a fast render leaves are whole windows the loudness thread would take next.
        while (mode == Mode::fast && (p.loudnessModule.updateLoudness(), p.loudnessModule.newMomentaryAvailable.load() || p.loudnessModule.newShortTermAvailable.load()))
        {
        }

        host.stop();
        p.releaseResources(); // detached, the thread counts nothing more while we read

        Measurement m { p.readings.load(), totalCount (p.loudnessModule.integratedHistogram),
                        totalCount (p.loudnessModule.rangeHistogram) };
        ebur128_loudness_global (reference, &m.referenceIntegrated);
        ebur128_loudness_range (reference, &m.referenceRange);
        ebur128_destroy (&reference);
        SimdDispatch::setAvx2Allowed (true);
        return m;
    }

    using Case = std::tuple<const Programme*, double, int>; // the programme, the rate, the offline block size

    class ReferenceProgramme : public ::testing::TestWithParam<Case>
    {};

    // Readings are floats in 0.1 steps: -23.1 lies a hair more than 0.1 from -23.
    constexpr float slack = 0.001f;
}

//==============================================================================
TEST_P (ReferenceProgramme, ReadsAsPublishedAndAsLibebur128PacedOfflineAndRenderedFast)
{
    const auto [programmePointer, rate, offlineBlockSize] = GetParam();
    const auto& programme = *programmePointer;
    const auto samples = (double) ToneProgramme (programme.tones, rate).getTotalSamples();

    if (isInstrumentedBuild && (samples > 20.0 * 48000.0 || offlineBlockSize < 512))
        GTEST_SKIP() << "a long single-threaded render; measured in the plain build";

    const auto paced = render (programme, rate, (int) rate / 20, Mode::paced);
    const auto& r = paced.readings;
    const bool integrated = ! programme.range;
    const auto ours = integrated ? r.integratedLoudness : r.loudnessRange;
    const auto theirs = (float) (integrated ? paced.referenceIntegrated : paced.referenceRange);

    EXPECT_NEAR (ours, programme.expected, programme.tolerance + slack);

    // Our values are rounded to 0.1 and gated in 0.1 LU bins, and our range
    // takes a short-term value every 600 ms where libebur128 takes one a second.
    EXPECT_NEAR (ours, theirs, (integrated ? 0.1f : 0.2f) + slack) << "libebur128 reads " << theirs;

    // A 400 ms window every 100 ms and a 3 s window every 600 ms less a sample
    // (the overlap's single-precision rounding), all counted.
    const auto momentaryWindow = (double) std::floor ((float) rate * 0.4f);
    const auto shortTermWindow = (double) std::floor ((float) rate * 3.0f);
    EXPECT_EQ (paced.momentaryCount, 1 + (int) ((samples - momentaryWindow) / (momentaryWindow / 4)));
    EXPECT_EQ (paced.shortTermCount, 1 + (int) ((samples - shortTermWindow) / (shortTermWindow / 5 - 1)));
    EXPECT_EQ (r.measuredSamples, samples);

    // Offline, and rendered fast in real-time mode, no window may be lost.
    for (auto mode : { Mode::offline, Mode::fast })
    {
        const auto other = render (programme, rate, mode == Mode::fast ? juce::jmax (offlineBlockSize, 512) : offlineBlockSize, mode);
        const auto& o = other.readings;
        EXPECT_EQ (std::tuple (o.integratedLoudness, o.loudnessRange, o.maxMomentaryLoudness, o.maxShortTermLoudness,
                               o.measuredSamples, other.momentaryCount, other.shortTermCount),
                   std::tuple (r.integratedLoudness, r.loudnessRange, r.maxMomentaryLoudness, r.maxShortTermLoudness,
                               r.measuredSamples, paced.momentaryCount, paced.shortTermCount))
            << (mode == Mode::fast ? "fast" : "offline");
    }
}

INSTANTIATE_TEST_SUITE_P (Programmes, ReferenceProgramme,
                          ::testing::Values (Case (&tech3341[0], 48000.0, 512), Case (&tech3341[1], 48000.0, 1000), Case (&tech3341[2], 48000.0, 0),
                                             Case (&tech3341[3], 48000.0, 4096), Case (&tech3341[4], 96000.0, 2400), Case (&tech3342[0], 48000.0, 1000),
                                             Case (&tech3342[2], 48000.0, 0), Case (&tech3341[3], 44100.0, 512), Case (&tech3342[1], 44100.0, 1000),
                                             Case (&tech3341[0], 192000.0, 8192)));
