#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>

#include "support/TestAudio.h"
#include "support/ToneProgramme.h"

/** A play head whose position the test sets before each block. */
class TestPlayHead final : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override
    {
        if (! available)
            return {};

        return position;
    }

    /** A playing (or stopped) transport at the given sample position. */
    void set (bool playing, juce::int64 timeInSamples, double sampleRate = 48000.0)
    {
        position = {};
        position.setIsPlaying (playing);
        position.setTimeInSamples (timeInSamples);
        position.setTimeInSeconds (static_cast<double> (timeInSamples) / sampleRate);
        position.setBpm (120.0);
        available = true;
    }

    PositionInfo position;
    bool available = true;
};

/** A host whose transport plays and moves on with every block it hands the
    processor, as during playback or an export. */
class PlayingHost final
{
public:
    explicit PlayingHost (juce::AudioProcessor& p, double sampleRateToUse = 48000.0)
        : processor (p), sampleRate (sampleRateToUse)
    {
        processor.setPlayHead (&playHead);
    }

    ~PlayingHost() { processor.setPlayHead (nullptr); }

    /** A clock for a processor's render pace under which no block comes
        ahead of real time, however fast a test plays: a second passes at
        every reading. */
    static double realTimeClock() noexcept { return static_cast<double> (readings.fetch_add (1)); }

    /** One block in place; false if any sample came out changed. */
    bool play (juce::AudioBuffer<float>& block, bool playing = true)
    {
        input.makeCopyOf (block, true);
        playHead.set (playing, position, sampleRate);
        lastStart = position;
        lastPlaying = playing;
        position += block.getNumSamples();
        processor.processBlock (block, midi);
        return TestAudio::sameBits (block, input);
    }

    /** The programme in blocks of blockSize, afterEach() after every block;
        false if any block came out changed. */
    bool play (
        ToneProgramme& programme, int numChannels, int blockSize, const std::function<void()>& afterEach = [] {}, bool playing = true)
    {
        bool unchanged = true;
        juce::AudioBuffer<float> block (numChannels, blockSize);

        for (int n; (n = programme.fill (block)) > 0; afterEach())
        {
            juce::AudioBuffer<float> part (block.getArrayOfWritePointers(), numChannels, n);
            unchanged = play (part, playing) && unchanged;
        }

        return unchanged;
    }

    /** A one-sample block with the last block's position record again: the
        transport counts as stopped, and the block publishes what the last
        step left. */
    void stop()
    {
        juce::AudioBuffer<float> block (processor.getTotalNumInputChannels(), 1);
        block.clear();
        position = lastStart;
        play (block, lastPlaying);
    }

    juce::AudioProcessor& processor;
    const double sampleRate;
    TestPlayHead playHead;
    juce::int64 position = 0, lastStart = 0;
    bool lastPlaying = false;

private:
    static inline std::atomic<juce::int64> readings { 0 };

    juce::AudioBuffer<float> input;
    juce::MidiBuffer midi;
};
