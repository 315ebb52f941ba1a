#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/LoudnessRounding.h"
#include "processor/SimdDispatch.h"
#include "support/InstrumentedBuild.h"
#include "support/PlayingHost.h"

#include <ebur128.h>

#include <chrono>
#include <cmath>
#include <string>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

// The published reference programmes, played through the processor as a host
// plays them (a loudness step after every 50 ms block) and as a host renders
// them offline (blocks as fast as they are taken): both must read what the
// programmes are published to read, agree with libebur128, and agree with
// each other to the last bit.

namespace
{
    struct Programme
    {
        const char* name;
        std::vector<std::pair<double, double>> levelsAndSeconds; // 1 kHz sines, peak level in dBFS
        std::vector<double> channelGainsDb; // one per channel
        bool range; // the range is published, else the integrated loudness
        float expected;
    };

    const std::vector<double> stereo { 0.0, 0.0 };

    const Programme programmes[] {
        { "Tech3341Case1", { { -23.0, 20.0 } }, stereo, false, -23.0f },
        { "Tech3341Case2", { { -33.0, 20.0 } }, stereo, false, -33.0f },
        { "Tech3341Case3", { { -36.0, 10.0 }, { -23.0, 60.0 }, { -36.0, 10.0 } }, stereo, false, -23.0f },
        { "Tech3341Case4", { { -72.0, 10.0 }, { -36.0, 10.0 }, { -23.0, 60.0 }, { -36.0, 10.0 }, { -72.0, 10.0 } }, stereo, false, -23.0f },
        { "Tech3341Case5", { { -26.0, 20.0 }, { -20.0, 20.1 }, { -26.0, 20.0 } }, stereo, false, -23.0f },
        { "Tech3341Case6", { { 0.0, 20.0 } }, { -28.0, -28.0, -24.0, -400.0, -30.0, -30.0 }, false, -23.0f },
        { "Tech3341Case6In5point0", { { 0.0, 20.0 } }, { -28.0, -28.0, -24.0, -30.0, -30.0 }, false, -23.0f },
        { "Tech3342Case1", { { -20.0, 20.0 }, { -30.0, 20.0 } }, stereo, true, 10.0f },
        { "Tech3342Case2", { { -20.0, 20.0 }, { -15.0, 20.0 } }, stereo, true, 5.0f },
        { "Tech3342Case3", { { -40.0, 20.0 }, { -20.0, 20.0 } }, stereo, true, 20.0f },
        { "Tech3342Case4", { { -50.0, 20.0 }, { -35.0, 20.0 }, { -20.0, 20.0 }, { -35.0, 20.0 }, { -50.0, 20.0 } }, stereo, true, 15.0f },
    };

    /** Rates without a filter set of their own use the 48 kHz set, whose
        curve then scales with the rate; their tones are scaled alike. */
    bool hasOwnFilterSet (double rate) { return std::set { 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0 }.count (rate) > 0; }

    ToneProgramme tonesOf (const Programme& programme, double rate)
    {
        std::vector<ToneProgramme::Tone> tones;

        for (auto [level, seconds] : programme.levelsAndSeconds)
            tones.push_back ({ level, hasOwnFilterSet (rate) ? 1000.0 : 1000.0 * rate / 48000.0, seconds });

        return ToneProgramme (tones, rate);
    }

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

    /** Plays the programme; blockSize 0 picks random lengths up to two seconds.
        Paced, the test runs one step per block; otherwise the loudness thread
        stays attached and the host renders offline, with the portable kernels
        if asked (they must give the AVX2 kernels' results bit for bit). */
    Measurement render (const Programme& programme, double rate, int blockSize, bool paced, bool portable = false)
    {
        SimdDispatch::setAvx2Allowed (! portable);
        const auto channels = static_cast<int> (programme.channelGainsDb.size());
        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (channels, channels, rate, juce::jmax (blockSize, 512));
        p.setNonRealtime (! paced);
        p.prepareToPlay (rate, juce::jmax (blockSize, 512));

        if (paced)
        {
            p.releaseResources();
            p.renderPace.clock = PlayingHost::realTimeClock;
        }

        auto* reference = ebur128_init ((unsigned) channels, (unsigned long) rate, EBUR128_MODE_I | EBUR128_MODE_LRA);

        // 5.1 and 5.0 in their canonical orders: L, R, C, (LFE,) Ls, Rs.
        if (channels >= 5)
        {
            ebur128_set_channel (reference, 3, channels == 6 ? EBUR128_UNUSED : EBUR128_LEFT_SURROUND);
            ebur128_set_channel (reference, (unsigned) channels - 2, EBUR128_LEFT_SURROUND);
            ebur128_set_channel (reference, (unsigned) channels - 1, EBUR128_RIGHT_SURROUND);
        }

        auto source = tonesOf (programme, rate);
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

            if (paced)
                p.loudnessModule.updateLoudness();
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

    /** A clock for a render as fast as can be, however slow the machine. */
    double stoppedClock() noexcept { return 0.0; }

    struct Case
    {
        const Programme* programme;
        double rate;
        int offlineBlockSize;
    };

    void PrintTo (const Case& c, std::ostream* out)
    {
        *out << c.programme->name << " at " << c.rate << " Hz, offline in blocks of " << c.offlineBlockSize;
    }

    class ReferenceProgramme : public ::testing::TestWithParam<Case>
    {};

    // Readings are floats in 0.1 steps: -23.1 lies a hair more than 0.1 from -23.
    constexpr float slack = 0.001f;
}

//==============================================================================
TEST_P (ReferenceProgramme, ReadsAsPublishedAndAsLibebur128PacedAndOffline)
{
    const auto& [programmePointer, rate, offlineBlockSize] = GetParam();
    const auto& programme = *programmePointer;
    const auto samples = (double) tonesOf (programme, rate).getTotalSamples();

    if (isInstrumentedBuild && (samples > 20.0 * 48000.0 || offlineBlockSize < 512))
        GTEST_SKIP() << "a long single-threaded render; measured in the plain build";

    const auto paced = render (programme, rate, (int) rate / 20, true);
    const auto& r = paced.readings;
    const bool integrated = ! programme.range;
    const auto ours = integrated ? r.integratedLoudness : r.loudnessRange;
    const auto theirs = (float) (integrated ? paced.referenceIntegrated : paced.referenceRange);

    EXPECT_NEAR (ours, programme.expected, (integrated ? 0.1f : 1.0f) + slack);

    // Our values are rounded to 0.1 and gated in 0.1 LU bins, and our range
    // takes a short-term value every 600 ms where libebur128 takes one a second.
    if (hasOwnFilterSet (rate))
    {
        EXPECT_NEAR (ours, theirs, (integrated ? 0.1f : 0.2f) + slack) << "libebur128 reads " << theirs;
    }

    // A 400 ms window every 100 ms and a 3 s window every 600 ms less a sample
    // (the overlap's single-precision rounding), all counted.
    const auto momentaryWindow = (double) std::floor ((float) rate * 0.4f);
    const auto shortTermWindow = (double) std::floor ((float) rate * 3.0f);
    EXPECT_EQ (paced.momentaryCount, 1 + (int) ((samples - momentaryWindow) / (momentaryWindow / 4)));
    EXPECT_EQ (paced.shortTermCount, 1 + (int) ((samples - shortTermWindow) / (shortTermWindow / 5 - 1)));
    EXPECT_EQ (r.measuredSamples, samples);

    const auto offline = render (programme, rate, offlineBlockSize, false, rate < 50000.0);
    const auto& o = offline.readings;
    EXPECT_EQ (std::tuple (o.integratedLoudness, o.loudnessRange, o.maxMomentaryLoudness, o.maxShortTermLoudness,
                           o.measuredSamples, offline.momentaryCount, offline.shortTermCount),
               std::tuple (r.integratedLoudness, r.loudnessRange, r.maxMomentaryLoudness, r.maxShortTermLoudness,
                           r.measuredSamples, paced.momentaryCount, paced.shortTermCount));
}

INSTANTIATE_TEST_SUITE_P (Programmes, ReferenceProgramme, ::testing::Values (Case { &programmes[0], 48000.0, 512 }, Case { &programmes[1], 48000.0, 8192 }, Case { &programmes[2], 48000.0, 1000 }, Case { &programmes[3], 48000.0, 512 }, Case { &programmes[4], 48000.0, 0 }, Case { &programmes[5], 48000.0, 4096 }, Case { &programmes[6], 48000.0, 1000 }, Case { &programmes[6], 96000.0, 2400 }, Case { &programmes[7], 48000.0, 1000 }, Case { &programmes[8], 48000.0, 512 }, Case { &programmes[9], 48000.0, 8192 }, Case { &programmes[10], 48000.0, 0 }, Case { &programmes[5], 44100.0, 512 }, Case { &programmes[8], 44100.0, 1000 }, Case { &programmes[0], 88200.0, 4096 }, Case { &programmes[0], 96000.0, 512 }, Case { &programmes[7], 96000.0, 8192 }, Case { &programmes[0], 176400.0, 1000 }, Case { &programmes[0], 192000.0, 512 }, Case { &programmes[0], 32000.0, 17 }, Case { &programmes[1], 48000.5, 64 }, Case { &programmes[0], 22050.0, 1 }));

//==============================================================================
TEST (OfflineRenderRealtime, AFastRenderInRealTimeModeLosesNoWindow)
{
    // A host that renders fast without saying so. The level step, shortened
    // where instrumentation slows everything down.
    Programme levelStep = programmes[4];

    if (isInstrumentedBuild)
        levelStep.levelsAndSeconds = { { -26.0, 5.0 }, { -20.0, 5.0 }, { -26.0, 5.0 } };

    const auto paced = render (levelStep, 48000.0, 2400, true);

    // Without the loudness thread the audio thread must take every window
    // itself, at once.
    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, 48000.0, 512);
    p.prepareToPlay (48000.0, 512);
    p.releaseResources();
    p.renderPace.clock = stoppedClock;
    PlayingHost host (p);
    auto programme = tonesOf (levelStep, 48000.0);
    EXPECT_TRUE (host.play (programme, 2, 512));

    // What is left are whole windows the loudness thread would take next.
    do
        p.loudnessModule.updateLoudness();
    while (p.loudnessModule.newMomentaryAvailable.load() || p.loudnessModule.newShortTermAvailable.load());

    EXPECT_EQ (p.readings.measuredSamples.load(), paced.readings.measuredSamples);
    EXPECT_EQ (std::tuple (totalCount (p.loudnessModule.integratedHistogram), totalCount (p.loudnessModule.rangeHistogram), round1 (p.loudnessModule.latestIntegrated.load())),
               std::tuple (paced.momentaryCount, paced.shortTermCount, paced.readings.integratedLoudness));
}

TEST (OfflineRenderRealtime, AFastRenderEndedByAStopReadsAsTheSameBlocksRenderedOffline)
{
    // A louder end, which a render that left its last windows unread at the
    // stop would miss.
    const std::vector<ToneProgramme::Tone> tones { { -30.0, 1000.0, isInstrumentedBuild ? 4.0 : 10.0 }, { -15.0, 1000.0, 2.0 } };

    for (auto [rate, blockSize] : { std::pair (44100.0, 64), { 48000.0, 512 }, { 96000.0, 4096 }, { 192000.0, 1024 } })
    {
        // As a host exports: the loudness thread runs, the transport stops at
        // the end, and the readings are taken afterwards.
        const auto render = [rate = rate, blockSize = blockSize, &tones] (bool offline) {
            Kelt5_1liteAudioProcessor p;
            p.renderPace.clock = stoppedClock;
            p.setPlayConfigDetails (2, 2, rate, blockSize);
            p.setNonRealtime (offline);
            p.prepareToPlay (rate, blockSize);
            PlayingHost host (p, rate);
            ToneProgramme programme (tones, rate);
            EXPECT_TRUE (host.play (programme, 2, blockSize));
            host.stop();
            p.releaseResources();
            const auto r = p.readings.load();
            return std::tuple (r.integratedLoudness, r.loudnessRange, r.maxMomentaryLoudness, r.maxShortTermLoudness,
                               totalCount (p.loudnessModule.integratedHistogram), totalCount (p.loudnessModule.rangeHistogram));
        };

        const auto offline = render (true);
        EXPECT_NEAR (std::get<2> (offline), -15.0f, 0.11f);
        EXPECT_EQ (render (false), offline) << rate << " Hz in blocks of " << blockSize;
    }
}

TEST (OfflineRenderRealtime, AtRealTimePaceTheLoudnessThreadMeasures)
{
    Kelt5_1liteAudioProcessor p;
    p.renderPace.clock = PlayingHost::realTimeClock;
    p.setPlayConfigDetails (2, 2, 48000.0, 2400);
    p.prepareToPlay (48000.0, 2400);
    PlayingHost host (p);
    ToneProgramme programme ({ { -20.0, 1000.0, 0.5 } });
    EXPECT_TRUE (host.play (programme, 2, 2400));

    // Its steps come every 50 ms of the wall clock.
    for (int i = 0; i < 200 && p.loudnessModule.latestMomentary.load() == -70.0f; ++i)
        std::this_thread::sleep_for (std::chrono::milliseconds (10));

    EXPECT_NEAR (p.loudnessModule.latestMomentary.load(), -20.0f, 0.11f);
}

TEST (OfflineRenderRealtime, AtRealTimePaceAStalledLoudnessThreadCatchesUpAlone)
{
    // Blocks at real-time pace; the test is the loudness thread, stepping
    // every 50 ms of audio but for a second from 0.5 s on.
    constexpr int blockSize = 256;
    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, 48000.0, blockSize);
    p.prepareToPlay (48000.0, blockSize);
    p.releaseResources();
    p.renderPace.clock = PlayingHost::realTimeClock;
    PlayingHost host (p);
    ToneProgramme programme ({ { -20.0, 1000.0, 4.0 } });
    int stepsTaken = 0, values = 0;

    const auto step = [&] {
        p.loudnessModule.updateLoudness();
        values += p.loudnessModule.newMomentaryAvailable.load() ? 1 : 0;
    };

    EXPECT_TRUE (host.play (programme, 2, blockSize, [&] {
        for (; (stepsTaken + 1) * 2400 <= host.position; ++stepsTaken)
            if (stepsTaken < 10 || stepsTaken >= 30)
                step();
    }));

    // The thread goes on stepping after the audio until it has caught up.
    for (int i = 0; i < 20; ++i)
        step();

    // Every window counted once, and each by the loudness thread alone: had
    // a callback measured any, this thread would have fewer.
    EXPECT_EQ (values, 1 + (4 * 48000 - 19200) / 4800);
    EXPECT_EQ (totalCount (p.loudnessModule.integratedHistogram), values);
}

TEST (OfflineRenderRealtime, SwitchingBetweenRealTimeAndOfflineLosesNoWindowAndCountsNoneTwice)
{
    // 50 ms blocks, real time and offline by turns of three, so that windows
    // also end exactly on a switch (the ninth, at 43200 samples). In real
    // time the test is the loudness thread, a step every 100 ms, so windows
    // are still waiting when the offline blocks come.
    const auto render = [] (bool switching) {
        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (2, 2, 48000.0, 2400);
        p.setNonRealtime (! switching);
        p.prepareToPlay (48000.0, 2400);
        p.releaseResources();
        p.renderPace.clock = PlayingHost::realTimeClock;
        PlayingHost host (p);
        ToneProgramme programme ({ { -30.0, 1000.0, 4.0 }, { -18.0, 1000.0, 3.0 }, { -26.0, 500.0, 4.0 } });
        int blocks = 0;

        EXPECT_TRUE (host.play (programme, 2, 2400, [&] {
            if (! p.isNonRealtime() && ++blocks % 2 == 0)
                p.loudnessModule.updateLoudness();

            p.setNonRealtime (! switching || (host.position / 7200) % 2 == 1);
        }));

        for (int i = 0; i < 10; ++i)
            p.loudnessModule.updateLoudness();

        const auto r = p.readings.load();
        return std::tuple (totalCount (p.loudnessModule.integratedHistogram), totalCount (p.loudnessModule.rangeHistogram),
                           round1 (p.loudnessModule.latestIntegrated.load()), round1 (p.loudnessModule.latestRange.load()),
                           r.maxMomentaryLoudness, r.maxShortTermLoudness);
    };

    EXPECT_EQ (render (true), render (false));
    EXPECT_EQ (std::get<0> (render (false)), 1 + (11 * 48000 - 19200) / 4800);
}

TEST (OfflineRenderRealtime, AnExportEndingOnAWindowsLastSampleCountsThatWindow)
{
    // At 48 kHz the second 3 s window ends at sample 172799, where the 400 ms
    // windows hold one sample short of a whole one.
    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, 48000.0, 4096);
    p.setNonRealtime (true);
    p.prepareToPlay (48000.0, 4096);
    PlayingHost host (p);
    ToneProgramme programme ({ { -20.0, 1000.0, 172799.0 / 48000.0 } });
    EXPECT_TRUE (host.play (programme, 2, 4096));
    p.releaseResources();

    EXPECT_EQ (totalCount (p.loudnessModule.rangeHistogram), 2);
    EXPECT_EQ (totalCount (p.loudnessModule.integratedHistogram), 1 + (172799 - 19200) / 4800);
}

TEST (OfflineRenderRealtime, AfterARenderPlaybackIsLeftToTheLoudnessThreadAtOnce)
{
    // A render, flagged offline or ended by a stop, then a second of blocks
    // at real-time pace: their windows wait for the loudness thread.
    for (bool flagged : { true, false })
    {
        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (2, 2, 48000.0, 480);
        p.prepareToPlay (48000.0, 480);
        p.releaseResources();
        static double now = 0.0;
        p.renderPace.clock = []() noexcept { return now; };
        p.setNonRealtime (flagged);
        PlayingHost host (p);
        ToneProgramme render ({ { -20.0, 1000.0, 5.0 } }), playback ({ { -20.0, 1000.0, 1.0 } });
        EXPECT_TRUE (host.play (render, 2, 480));

        if (! flagged)
            host.stop();

        p.setNonRealtime (false);
        EXPECT_TRUE (host.play (
            playback, 2, 480, [] { now += 0.01; }, flagged));
        EXPECT_GE (p.loudnessModule.momentaryFifo->getNumReady(), 48000 - 1) << (flagged ? "offline" : "stopped");
    }
}
