#include <gtest/gtest.h>

#include "support/TestAudio.h"
#include "processor/KWeightingCoefficients.h"
#include "processor/Kelt5_1liteAudioProcessor.h"
#include "support/TestPlayHead.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace
{
    bool holdsStage (const juce::IIRFilter& filter, const KWeightingCoefficients::Stage& stage)
    {
        const float expected[] = { stage.b0, stage.b1, stage.b2, stage.a1, stage.a2 };
        return std::memcmp (filter.getCoefficients().coefficients, expected, sizeof (expected)) == 0;
    }

    bool holdsSet (const TarnLoudnessModule& engine, const KWeightingCoefficients::Set& set)
    {
        for (size_t c = 0; c < TarnLoudnessModule::maxChannels; ++c)
            if (! holdsStage (engine.preFilters[c], set.preFilter) || ! holdsStage (engine.rlbFilters[c], set.rlb))
                return false;

        return true;
    }

    /** Fills the FIFO to the brim and gives its capacity: what it holds plus
        the slot that always stays empty. */
    int capacityOf (OverlapFifo& fifo, int atLeast)
    {
        juce::AudioSampleBuffer lots (1, atLeast + 16);
        lots.clear();
        fifo.write (lots);
        return fifo.getNumReady() + 1;
    }


    void fillNoise (juce::AudioSampleBuffer& buffer, juce::Random& random, float gain)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, gain * (2.0f * random.nextFloat() - 1.0f));
    }

    /** A playing host in front of a processor whose steps the test runs. */
    struct Player
    {
        explicit Player (Kelt5_1liteAudioProcessor& processor) : p (processor) { p.setPlayHead (&playHead); }
        ~Player() { p.setPlayHead (nullptr); }

        /** Blocks of a stereo 1 kHz sine at the level, with a step after each. */
        void playSine (float levelDb, double seconds, double sampleRate)
        {
            const auto blockSize = static_cast<int> (sampleRate) / 20;
            const auto amplitude = std::pow (10.0f, levelDb / 20.0f);
            juce::AudioSampleBuffer block (2, blockSize);

            for (int b = 0; b < static_cast<int> (seconds * 20.0); ++b)
            {
                // 50 ms holds whole periods at every rate used here.
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < blockSize; ++i)
                        block.setSample (c, i, amplitude * static_cast<float> (std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0
                                                                                         * static_cast<double> (i) / sampleRate)));
                play (block);
                p.loudnessModule.updateLoudness();
            }
        }

        void play (juce::AudioSampleBuffer& block, bool playing = true)
        {
            playHead.set (playing, position);
            position += block.getNumSamples();
            juce::MidiBuffer midi;
            p.processBlock (block, midi);
        }

        Kelt5_1liteAudioProcessor& p;
        TestPlayHead playHead;
        juce::int64 position = 0;
    };

    void expectSameReadings (const MeterReadings::Values& a, const MeterReadings::Values& b)
    {
        EXPECT_EQ (a.momentaryLoudness, b.momentaryLoudness);
        EXPECT_EQ (a.momentaryMeterPosition, b.momentaryMeterPosition);
        EXPECT_EQ (a.shortTermLoudness, b.shortTermLoudness);
        EXPECT_EQ (a.integratedLoudness, b.integratedLoudness);
        EXPECT_EQ (a.loudnessRange, b.loudnessRange);
        EXPECT_EQ (a.rangeLowMeterPosition, b.rangeLowMeterPosition);
        EXPECT_EQ (a.rangeHighMeterPosition, b.rangeHighMeterPosition);
        EXPECT_EQ (a.shortTermMeterPosition, b.shortTermMeterPosition);
        EXPECT_EQ (a.truePeakOverload, b.truePeakOverload);
        EXPECT_EQ (a.measuredSamples, b.measuredSamples);
        EXPECT_EQ (a.maxMomentaryLoudness, b.maxMomentaryLoudness);
        EXPECT_EQ (a.maxShortTermLoudness, b.maxShortTermLoudness);
    }
}

//==============================================================================
TEST (RatePreparation, SetsFiltersWindowsAndFifosUpForTheRate)
{
    struct Expectation
    {
        double rate;
        int blockSize;
        int coefficientRate;
        int momentaryWindow, shortTermWindow;
    };

    for (const auto& e : { Expectation { 48000.0, 512, 48000, 19200, 144000 },
                           Expectation { 32000.0, 256, 48000, 12800, 96000 },      // unnamed rate: the 48 kHz set
                           Expectation { 44100.7, 441, 44100, 17640, 132302 },     // truncated for the set, not for the windows
                           Expectation { 88200.0, 1024, 88200, 35280, 264600 } })
    {
        SCOPED_TRACE (e.rate);

        Kelt5_1liteAudioProcessor p;
        p.setPlayConfigDetails (2, 2, e.rate, e.blockSize);
        p.prepareToPlay (e.rate, e.blockSize);

        EXPECT_EQ (p.loudnessThread.getNumClients(), 1);
        p.releaseResources();   // the test reads the FIFOs itself from here on

        auto& engine = p.loudnessModule;
        const auto& set = KWeightingCoefficients::forRate (e.coefficientRate);
        EXPECT_EQ (engine.preparedSampleRate, e.rate);
        EXPECT_EQ (p.currentSampleRate.load(), e.rate);
        EXPECT_TRUE (holdsSet (engine, set));

        EXPECT_EQ (engine.momentaryWindowLength, e.momentaryWindow);
        EXPECT_EQ (engine.shortTermWindowLength, e.shortTermWindow);
        EXPECT_EQ (engine.momentaryWindowBuffer->getNumSamples(), e.momentaryWindow);
        EXPECT_EQ (engine.shortTermWindowBuffer->getNumSamples(), e.shortTermWindow);
        EXPECT_EQ (engine.blockBuffer.getNumChannels(), 6);
        EXPECT_EQ (engine.blockBuffer.getNumSamples(), e.blockSize);

        // The filters are live: a block comes out of the block path K-weighted
        // exactly as a fresh pair of filters with the set weights it.
        juce::AudioSampleBuffer impulse (2, e.blockSize);
        impulse.clear();
        impulse.setSample (0, 0, 1.0f);
        impulse.setSample (1, 3, -0.5f);
        juce::MidiBuffer midi;
        p.processBlock (impulse, midi);

        for (int c = 0; c < 2; ++c)
        {
            juce::IIRFilter pre, rlb;
            pre.setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.preFilter));
            rlb.setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.rlb));
            juce::AudioSampleBuffer expected (impulse);
            pre.processSamples (expected.getWritePointer (c), e.blockSize);
            rlb.processSamples (expected.getWritePointer (c), e.blockSize);

            EXPECT_EQ (std::memcmp (engine.blockBuffer.getReadPointer (c), expected.getReadPointer (c),
                                    sizeof (float) * (size_t) e.blockSize), 0) << "channel " << c;
        }

        EXPECT_EQ (capacityOf (*engine.momentaryFifo, 4 * e.momentaryWindow), 4 * e.momentaryWindow);
        EXPECT_EQ (capacityOf (*engine.shortTermFifo, 4 * e.shortTermWindow), 4 * e.shortTermWindow);
    }
}

TEST (RatePreparation, AgainAtTheSameRateOnlyResizesTheBlockBuffer)
{
    // Two processors get the same audio; one is prepared again in between.
    Kelt5_1liteAudioProcessor again, straight;
    Player againPlayer (again), straightPlayer (straight);

    for (auto* p : { &again, &straight })
    {
        p->setPlayConfigDetails (2, 2, 48000.0, 512);
        p->prepareToPlay (48000.0, 512);
        p->releaseResources();
    }

    juce::Random random (3);
    juce::AudioSampleBuffer block (2, 512);

    for (int b = 0; b < 40; ++b)   // 20480 samples: more than one 400 ms window
    {
        fillNoise (block, random, 0.3f);
        auto copy = block;
        againPlayer.play (block);
        straightPlayer.play (copy);
    }

    // Preparing attaches the engine, and a step could take a window before
    // the release; with the thread stopped no step runs.
    again.loudnessThread.stopThread (1000);
    again.prepareToPlay (48000.0, 1024);
    again.releaseResources();

    EXPECT_EQ (again.loudnessModule.blockBuffer.getNumChannels(), 6);
    EXPECT_EQ (again.loudnessModule.blockBuffer.getNumSamples(), 1024);
    EXPECT_EQ (again.loudnessModule.momentaryFifo->getNumReady(), 20480);
    EXPECT_EQ (again.loudnessModule.shortTermFifo->getNumReady(), 20480);

    // Filter state carried over: the next block is weighted bit for bit as
    // without the second preparation.
    juce::AudioSampleBuffer longer (2, 1024);
    fillNoise (longer, random, 0.3f);
    auto copy = longer;
    againPlayer.play (longer);
    straightPlayer.play (copy);
    EXPECT_TRUE (TestAudio::sameBits (again.loudnessModule.blockBuffer, straight.loudnessModule.blockBuffer));

    // And the FIFO still holds the same audio: the same window comes out.
    again.loudnessModule.updateLoudness();
    straight.loudnessModule.updateLoudness();
    ASSERT_TRUE (again.loudnessModule.newMomentaryAvailable.load());
    EXPECT_TRUE (TestAudio::sameBits (*again.loudnessModule.momentaryWindowBuffer, *straight.loudnessModule.momentaryWindowBuffer));
    EXPECT_EQ (again.loudnessModule.latestMomentary.load(), straight.loudnessModule.latestMomentary.load());
}

TEST (RatePreparation, ANewRateRestartsTheWindowsButNotTheMeasurement)
{
    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, 48000.0, 2400);
    p.prepareToPlay (48000.0, 2400);
    p.releaseResources();
    Player player (p);
    auto& engine = p.loudnessModule;

    player.playSine (-23.0f, 5.0, 48000.0);

    // Leave a part window in both FIFOs.
    juce::AudioSampleBuffer part (2, 1000);
    part.clear();
    player.play (part);

    const auto readings = p.readings.load();
    const auto integrated = engine.latestIntegrated.load();
    const auto range = engine.latestRange.load();
    const auto countedBefore = engine.integratedHistogram.integratedLoudness();
    ASSERT_NEAR (readings.integratedLoudness, -23.0f, 0.101f);
    ASSERT_GT (engine.momentaryFifo->getNumReady(), 0);

    p.prepareToPlay (96000.0, 4800);
    p.releaseResources();

    EXPECT_EQ (engine.momentaryFifo->getNumReady(), 0);
    EXPECT_EQ (engine.shortTermFifo->getNumReady(), 0);
    EXPECT_TRUE (holdsSet (engine, KWeightingCoefficients::forRate (96000)));
    expectSameReadings (p.readings.load(), readings);
    EXPECT_EQ (engine.latestIntegrated.load(), integrated);
    EXPECT_EQ (engine.latestRange.load(), range);
    EXPECT_EQ (engine.integratedHistogram.integratedLoudness(), countedBefore);

    // The integration carries on at the new rate: six dB quieter audio pulls
    // the energy mean of all blocks down, but not all the way.
    float countBefore = 0.0f;
    for (int i = 0; i < LoudnessHistogram::numBins; ++i)
        countBefore += engine.integratedHistogram.getCount (i);

    player.playSine (-29.0f, 5.0, 96000.0);

    float countAfter = 0.0f;
    for (int i = 0; i < LoudnessHistogram::numBins; ++i)
        countAfter += engine.integratedHistogram.getCount (i);

    const auto countedAt96k = static_cast<double> (countAfter - countBefore);
    ASSERT_GT (countedAt96k, 40.0);
    const auto expected = 10.0 * std::log10 ((static_cast<double> (countBefore) * std::pow (10.0, -2.3)
                                              + countedAt96k * std::pow (10.0, -2.9))
                                             / static_cast<double> (countAfter));
    EXPECT_NEAR (static_cast<double> (engine.latestIntegrated.load()), expected, 0.1);
}

TEST (RatePreparation, AnUnmeasurableRateMeasuresNothingUntilAMeasurableOne)
{
    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, 48000.0, 2400);
    p.prepareToPlay (48000.0, 2400);
    p.releaseResources();
    Player player (p);
    auto& engine = p.loudnessModule;

    player.playSine (-23.0f, 5.0, 48000.0);
    const auto before = p.readings.load();

    p.prepareToPlay (5.0, 2400);
    p.releaseResources();
    EXPECT_EQ (p.currentSampleRate.load(), 5.0);

    // Four seconds' worth at 48 kHz of loud noise (peaks below the limit):
    // no window, no new figure.
    juce::Random random (5);
    juce::AudioSampleBuffer loud (2, 2400);

    for (int b = 0; b < 80; ++b)
    {
        fillNoise (loud, random, 0.2f);
        player.play (loud);
        engine.updateLoudness();
        ASSERT_FALSE (engine.newMomentaryAvailable.load() || engine.newShortTermAvailable.load()) << "block " << b;
    }

    auto after = p.readings.load();
    after.measuredSamples = before.measuredSamples;   // play time still counts
    expectSameReadings (after, before);

    p.prepareToPlay (48000.0, 2400);
    p.releaseResources();
    player.playSine (-23.0f, 3.0, 48000.0);
    EXPECT_NEAR (p.readings.load().shortTermLoudness, -23.0f, 0.11f);
    EXPECT_NEAR (p.readings.load().integratedLoudness, -23.0f, 0.11f);
}

TEST (RatePreparation, ResetFiltersLeavesSilenceSilentAndKeepsTheCoefficients)
{
    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (6, 6, 44100.0, 512);
    p.prepareToPlay (44100.0, 512);
    p.releaseResources();
    Player player (p);
    auto& engine = p.loudnessModule;

    juce::Random random (11);
    juce::AudioSampleBuffer block (6, 512);

    for (int b = 0; b < 4; ++b)
    {
        fillNoise (block, random, 0.9f);
        player.play (block);
    }

    engine.resetFilters();

    // The play state does not change here, so only the reset cleared them.
    block.clear();
    player.play (block);

    for (int c = 0; c < 6; ++c)
        for (int i = 0; i < 512; ++i)
            ASSERT_EQ (engine.blockBuffer.getSample (c, i), 0.0f) << c << " " << i;

    // Each stage on its own gives zeros too, and the filters still weight with
    // the rate's set from a clean state.
    engine.resetFilters();
    std::vector<float> zeros (64, 0.0f);

    for (size_t c = 0; c < 6; ++c)
    {
        engine.preFilters[c].processSamples (zeros.data(), 64);
        engine.rlbFilters[c].processSamples (zeros.data(), 64);
    }

    EXPECT_EQ (std::count (zeros.begin(), zeros.end(), 0.0f), 64);

    const auto& set = KWeightingCoefficients::forRate (44100);
    EXPECT_TRUE (holdsSet (engine, set));

    fillNoise (block, random, 0.5f);
    juce::AudioSampleBuffer expected (block);
    player.play (block);

    for (int c = 0; c < 6; ++c)
    {
        juce::IIRFilter pre, rlb;
        pre.setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.preFilter));
        rlb.setCoefficients (KWeightingCoefficients::toIIRCoefficients (set.rlb));
        pre.processSamples (expected.getWritePointer (c), 512);
        rlb.processSamples (expected.getWritePointer (c), 512);
    }

    EXPECT_TRUE (TestAudio::sameBits (engine.blockBuffer, expected));
}

//==============================================================================
TEST (RatePreparationThreads, PreparingWhileBlocksAndStepsRunIsSafe)
{
    using Clock = std::chrono::steady_clock;

    Kelt5_1liteAudioProcessor p;
    p.setPlayConfigDetails (2, 2, 48000.0, 512);
    p.prepareToPlay (48000.0, 512);   // the loudness thread runs steps throughout
    TestPlayHead playHead;
    p.setPlayHead (&playHead);

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 }, changedBlocks { 0 };

    std::thread audioThread ([&]
    {
        juce::Random random (5);
        juce::AudioSampleBuffer block (2, 512), original (2, 512);
        juce::MidiBuffer midi;
        juce::int64 position = 0;

        while (! stop.load())
        {
            // Near -80 dBFS, so whatever the storm counts stays far below the
            // level measured afterwards.
            fillNoise (block, random, 1.0e-4f);
            original.makeCopyOf (block, true);

            playHead.set (true, position);
            position += 512;
            p.processBlock (block, midi);

            if (! TestAudio::sameBits (block, original))
                ++changedBlocks;

            ++blocks;
        }
    });

    // Each rate twice: a new rate replaces the FIFOs, the same rate again only
    // the block buffers. New rates are slow under the race checker.
    const double rates[] = { 44100.0, 48000.0, 96000.0 };
    const int blockSizes[] = { 256, 512, 1024, 2048 };
    const auto start = Clock::now();
    int preparations = 0;

    while (preparations < 60 && Clock::now() - start < std::chrono::milliseconds (1500))
    {
        p.prepareToPlay (rates[(preparations / 2) % 3], blockSizes[preparations % 4]);
        ++preparations;
        std::this_thread::sleep_for (std::chrono::milliseconds (2));
    }

    stop = true;
    audioThread.join();

    EXPECT_GE (preparations, 4);
    EXPECT_GT (blocks.load(), preparations);
    EXPECT_EQ (changedBlocks.load(), 0);

    // A last preparation, then steady playback measures as on a fresh processor.
    p.prepareToPlay (48000.0, 2400);
    p.releaseResources();
    Player player (p);
    player.playSine (-23.0f, 8.0, 48000.0);

    juce::AudioSampleBuffer last (2, 1);
    last.clear();
    player.play (last, false);   // publishes what the last step left
    const auto r = p.readings.load();
    EXPECT_NEAR (r.momentaryLoudness, -23.0f, 0.101f);
    EXPECT_NEAR (r.shortTermLoudness, -23.0f, 0.101f);
    EXPECT_NEAR (r.integratedLoudness, -23.0f, 0.101f);
    EXPECT_NEAR (r.loudnessRange, 0.0f, 0.101f);
}
