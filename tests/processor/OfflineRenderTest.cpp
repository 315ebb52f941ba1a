#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/LoudnessRounding.h"
#include "support/InstrumentedBuild.h"
#include "support/TestPlayHead.h"
#include "support/ToneProgramme.h"
#include "support/Watchdog.h"

#include <ebur128.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

// A host that renders offline pushes audio far faster than real time. The
// measurement must then come out exactly as it does at real-time pace, and
// agree with an independent meter.

namespace
{
    constexpr double rate = 48000.0;
    constexpr int pacedBlockSize = 2400;   // 50 ms, one loudness-thread period

    using Tone = ToneProgramme::Tone;

    // EBU Tech 3341 case 5: integrated -23.0 +-0.1 LUFS.
    const std::vector<Tone> levelStep { { -26.0, 1000.0, 20.0 }, { -20.0, 1000.0, 20.1 }, { -26.0, 1000.0, 20.0 } };

    // EBU Tech 3342 case 4: loudness range 15 +-1 LU.
    const std::vector<Tone> rangeSteps { { -50.0, 1000.0, 20.0 }, { -35.0, 1000.0, 20.0 }, { -20.0, 1000.0, 20.0 },
                                         { -35.0, 1000.0, 20.0 }, { -50.0, 1000.0, 20.0 } };

    // Five minutes of tones across the K-weighting curve and a 35 dB span.
    const std::vector<Tone> fiveMinutes { { -23.0, 1000.0, 20.0 }, { -31.0, 250.0, 17.5 },  { -18.0, 4000.0, 22.5 },
                                          { -27.0, 60.0, 20.0 },   { -40.0, 1500.0, 13.0 }, { -12.0, 8000.0, 27.0 },
                                          { -35.0, 500.0, 20.0 },  { -22.0, 2000.0, 19.9 }, { -28.0, 100.0, 20.1 },
                                          { -16.0, 3000.0, 20.0 }, { -45.0, 700.0, 20.0 },  { -25.0, 12000.0, 20.0 },
                                          { -20.0, 440.0, 20.0 },  { -33.0, 5000.0, 20.0 }, { -24.0, 997.0, 20.0 } };

    /** What a render leaves behind. */
    struct Measurement
    {
        float integrated = 0.0f, range = 0.0f, maxMomentary = 0.0f, maxShortTerm = 0.0f;
        int momentaryValues = 0, shortTermValues = 0;   // counted while playing
        double measuredSamples = 0.0;
    };

    int totalCount (const LoudnessHistogram& histogram)
    {
        float total = 0.0f;

        for (int i = 0; i < LoudnessHistogram::numBins; ++i)
            total += histogram.getCount (i);

        return static_cast<int> (total);
    }

    Measurement measurementOf (const Kelt5_1liteAudioProcessor& p)
    {
        const auto r = p.readings.load();
        return { r.integratedLoudness, r.loudnessRange, r.maxMomentaryLoudness, r.maxShortTermLoudness,
                 totalCount (p.loudnessModule.integratedHistogram), totalCount (p.loudnessModule.rangeHistogram),
                 r.measuredSamples };
    }

    void expectSameMeasurement (const Measurement& a, const Measurement& b)
    {
        EXPECT_EQ (a.integrated, b.integrated);
        EXPECT_EQ (a.range, b.range);
        EXPECT_EQ (a.maxMomentary, b.maxMomentary);
        EXPECT_EQ (a.maxShortTerm, b.maxShortTerm);
        EXPECT_EQ (a.momentaryValues, b.momentaryValues);
        EXPECT_EQ (a.shortTermValues, b.shortTermValues);
        EXPECT_EQ (a.measuredSamples, b.measuredSamples);
    }

    /** A stereo processor under a playing host whose position advances with
        every block. */
    class Render
    {
    public:
        explicit Render (int blockSizeToUse)
            : blockSize (blockSizeToUse)
        {
            p.setPlayConfigDetails (2, 2, rate, blockSize);
            p.setPlayHead (&playHead);
        }

        /** Processes the programme's next block; false once it has ended. */
        bool nextBlock (ToneProgramme& programme)
        {
            buffer.setSize (2, blockSize, false, false, true);
            const auto n = programme.fill (buffer);

            if (n == 0)
                return false;

            buffer.setSize (2, n, true, false, true);
            input.makeCopyOf (buffer, true);
            process();

            for (int c = 0; c < 2; ++c)
                if (std::memcmp (buffer.getReadPointer (c), input.getReadPointer (c), sizeof (float) * (size_t) n) != 0)
                    ++changedBlocks;

            return true;
        }

        /** A block whose position repeats the last one, so the transport counts
            as stopped: it publishes what the last step found and counts nothing. */
        void stop()
        {
            buffer.setSize (2, 1, false, false, true);
            buffer.clear();
            position -= lastLength;
            process();
        }

        TestPlayHead playHead;   // outlives the processor that points to it
        Kelt5_1liteAudioProcessor p;
        int changedBlocks = 0;

    private:
        void process()
        {
            const auto n = buffer.getNumSamples();
            playHead.set (true, position);
            position += n;
            lastLength = n;
            p.processBlock (buffer, midi);
        }

        const int blockSize;
        juce::AudioBuffer<float> buffer, input;
        juce::MidiBuffer midi;
        juce::int64 position = 0;
        int lastLength = 0;
    };

    /** Real time without a clock: the loudness thread is detached and one
        measurement step follows every 50 ms block, as the thread would run it. */
    Measurement renderPaced (const std::vector<Tone>& tones)
    {
        Render render (pacedBlockSize);
        render.p.prepareToPlay (rate, pacedBlockSize);
        render.p.releaseResources();

        ToneProgramme programme (tones);

        while (render.nextBlock (programme))
            render.p.loudnessModule.updateLoudness();

        render.stop();
        EXPECT_EQ (render.changedBlocks, 0);
        return measurementOf (render.p);
    }

    /** As a host renders offline: the loudness thread stays attached and the
        blocks come as fast as the processor takes them. */
    Measurement renderAsFastAsPossible (const std::vector<Tone>& tones, int blockSize, bool nonRealtime)
    {
        Render render (blockSize);
        render.p.setNonRealtime (nonRealtime);
        render.p.prepareToPlay (rate, blockSize);

        ToneProgramme programme (tones);

        while (render.nextBlock (programme))
        {
        }

        render.stop();
        EXPECT_EQ (render.changedBlocks, 0);

        // Detached, the loudness thread no longer counts while we read.
        render.p.releaseResources();
        return measurementOf (render.p);
    }

    struct Reference
    {
        double integrated = 0.0, range = 0.0;
    };

    /** The same programme through libebur128. */
    Reference measureWithLibebur128 (const std::vector<Tone>& tones)
    {
        auto* state = ebur128_init (2, static_cast<unsigned long> (rate), EBUR128_MODE_I | EBUR128_MODE_LRA);
        EXPECT_NE (state, nullptr);

        ToneProgramme programme (tones);
        std::vector<float> frames (2 * 4800);

        for (int n; (n = programme.fillInterleaved (frames.data(), 2, 4800)) > 0;)
            ebur128_add_frames_float (state, frames.data(), static_cast<size_t> (n));

        Reference reference;
        ebur128_loudness_global (state, &reference.integrated);
        ebur128_loudness_range (state, &reference.range);
        ebur128_destroy (&state);
        return reference;
    }

    struct Case
    {
        const char* name;
        const std::vector<Tone>* tones;
        int blockSize;
        bool leftToThePlainBuild;   // instrumented builds run one render only
    };

    void PrintTo (const Case& c, std::ostream* out)
    {
        *out << c.name << " in blocks of " << c.blockSize;
    }

    std::vector<Case> allCases()
    {
        std::vector<Case> cases;

        for (int blockSize : { 512, 8192, 1000 })
        {
            cases.push_back ({ "LevelStep", &levelStep, blockSize, blockSize != 1000 });
            cases.push_back ({ "RangeSteps", &rangeSteps, blockSize, true });
            cases.push_back ({ "FiveMinutesOfTones", &fiveMinutes, blockSize, true });
        }

        return cases;
    }

    class OfflineRender : public ::testing::TestWithParam<Case> {};

    std::string caseName (const ::testing::TestParamInfo<Case>& info)
    {
        return info.param.name + std::string ("In") + std::to_string (info.param.blockSize);
    }
}

//==============================================================================
TEST_P (OfflineRender, MeasuresAsAtRealTimePaceAndAsAnIndependentMeter)
{
    if (GetParam().leftToThePlainBuild && isInstrumentedBuild)
        GTEST_SKIP() << "too long for an instrumented build";

    const auto& tones = *GetParam().tones;
    const auto paced = renderPaced (tones);
    const auto reference = measureWithLibebur128 (tones);

    EXPECT_NEAR (paced.integrated, reference.integrated, 0.1);
    EXPECT_NEAR (paced.range, reference.range, 1.0);
    EXPECT_EQ (paced.measuredSamples, static_cast<double> (ToneProgramme (tones).getTotalSamples()));

    expectSameMeasurement (renderAsFastAsPossible (tones, GetParam().blockSize, true), paced);
}

INSTANTIATE_TEST_SUITE_P (Programmes, OfflineRender, ::testing::ValuesIn (allCases()), caseName);

TEST (OfflineRenderReference, TheTestProgrammesReadAsTheirPublishedTargets)
{
    // Guards the programmes themselves: a wrong generator would make every
    // comparison above meaningless.
    EXPECT_NEAR (measureWithLibebur128 (levelStep).integrated, -23.0, 0.1);
    EXPECT_NEAR (measureWithLibebur128 (rangeSteps).range, 15.0, 1.0);
}

TEST (OfflineRenderRealtime, AFastRenderInRealTimeModeLosesNoWindow)
{
    // A host that renders fast without saying so. The level step, shortened
    // where instrumentation slows everything down.
    const auto tones = isInstrumentedBuild ? std::vector<Tone> { { -26.0, 1000.0, 5.0 }, { -20.0, 1000.0, 5.0 },
                                                                 { -26.0, 1000.0, 5.0 } }
                                           : levelStep;
    const auto paced = renderPaced (tones);
    const auto reference = measureWithLibebur128 (tones);

    // Alone, the audio thread must take every window. With the loudness
    // thread attached it never waits for a step that thread is running, so on
    // a loaded machine a block may still lose what does not fit.
    for (const bool withLoudnessThread : { false, true })
    {
        SCOPED_TRACE (withLoudnessThread ? "loudness thread attached" : "audio thread alone");

        Render render (512);
        render.p.prepareToPlay (rate, 512);

        if (! withLoudnessThread)
            render.p.releaseResources();

        ToneProgramme programme (tones);

        while (render.nextBlock (programme))
        {
        }

        // What is left are whole windows the loudness thread would take next.
        render.p.releaseResources();
        auto& engine = render.p.loudnessModule;

        do
            engine.updateLoudness();
        while (engine.newMomentaryAvailable.load() || engine.newShortTermAvailable.load());

        EXPECT_EQ (render.changedBlocks, 0);
        const auto fast = measurementOf (render.p);

        if (withLoudnessThread)
        {
            EXPECT_GT (fast.momentaryValues, paced.momentaryValues * 3 / 4);
            continue;
        }

        EXPECT_EQ (fast.momentaryValues, paced.momentaryValues);
        EXPECT_EQ (fast.shortTermValues, paced.shortTermValues);
        EXPECT_EQ (round1 (engine.latestIntegrated.load()), paced.integrated);
        EXPECT_NEAR (engine.latestIntegrated.load(), reference.integrated, 0.1);
    }
}

TEST (OfflineRenderModeChanges, SwitchingModeEveryFewBlocksLosesNoWindow)
{
    const std::vector<Tone> tones { { -30.0, 1000.0, 4.0 }, { -18.0, 2500.0, 5.3 },
                                    { -40.0, 300.0, 4.2 },  { -24.0, 1000.0, 6.5 } };
    const auto paced = renderPaced (tones);

    const Watchdog watchdog ("a render switching between offline and real time", std::chrono::seconds (120));

    Render render (512);
    render.p.prepareToPlay (rate, 512);   // the loudness thread stays attached

    ToneProgramme programme (tones);
    const auto numBlocks = (programme.getTotalSamples() + 511) / 512;

    // Three blocks offline, then real time for 1 to 40 blocks, loosely paced so
    // that the loudness thread takes some windows itself. The real-time
    // stretches stay well inside the FIFOs, so no audio may be lost, and the
    // last block is offline, so every whole window is measured by the end.
    bool offline = true;
    int blocksLeft = 3, stretches = 0;

    for (juce::int64 block = 0;; ++block)
    {
        render.p.setNonRealtime (offline || block == numBlocks - 1);

        if (! render.nextBlock (programme))
            break;

        if (! offline)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));

        if (--blocksLeft == 0)
        {
            offline = ! offline;
            blocksLeft = offline ? 3 : 1 + (stretches++ * 7) % 40;
        }
    }

    render.p.setNonRealtime (true);
    render.stop();
    render.p.releaseResources();
    EXPECT_EQ (render.changedBlocks, 0);

    const auto switched = measurementOf (render.p);
    EXPECT_EQ (switched.momentaryValues, paced.momentaryValues);
    EXPECT_EQ (switched.shortTermValues, paced.shortTermValues);
    EXPECT_EQ (switched.measuredSamples, paced.measuredSamples);

    // The engine's own figures: a value that the loudness thread produced just
    // before a switch may never have been published.
    EXPECT_EQ (round1 (render.p.loudnessModule.latestIntegrated.load()), paced.integrated);
    EXPECT_EQ (round1 (render.p.loudnessModule.latestRange.load()), paced.range);
}
