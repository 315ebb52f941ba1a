#pragma once

#include "processor/MeasurementConstants.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include "processor/KWeightingFilter.h"
#include "processor/LoudnessHistogram.h"
#include "processor/OverlapFifo.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

/** The loudness engine.

    On the audio thread it K-weights each block and feeds two overlapping-window
    FIFOs; on the loudness thread its measurement step turns 400 ms and 3 s
    windows into momentary and short-term loudness and, while the host plays,
    into the integrated loudness and the loudness range.

    The step holds `stepLock` while it runs. Work that replaces or clears what
    the step uses (a new sample rate, a measurement reset) takes the same lock
    from a non-audio thread, so it never overlaps a step. While the host
    renders offline, or pushes audio far faster than real time, the audio
    thread runs the steps itself under this lock; at real-time pace it never
    runs a step and never touches the lock.
*/
class TarnLoudnessModule final : public juce::TimeSliceClient
{
public:
    static constexpr int maxChannels = numChannelPositions;

    TarnLoudnessModule();
    ~TarnLoudnessModule() override;

    /** Runs one measurement step and asks to be called again in 50 ms. */
    int useTimeSlice() override;

    /** One measurement step: at most one window from each FIFO. */
    void updateLoudness();

    /** Writes `blockBuffer` into both FIFOs while the audio thread measures
        every whole window itself, in order, calling afterEachStep after each
        step, as the loudness thread's steps would be run and published.

        For blocks that the host does not need by a real-time deadline: it
        renders offline, or far ahead of real time. The loudness thread then
        stands aside (see `measuredByAudioThread`), so this waits at most for
        a step it had already begun. Windows the reader has not taken yet go
        first, so none is left unread when a stop empties the FIFOs.
        Audio thread only. */
    template <typename Callback>
    void pushMeasuringWholeWindows (Callback&& afterEachStep)
    {
        if (momentaryFifo == nullptr || shortTermFifo == nullptr)
            return;

        const std::lock_guard<std::mutex> lock (stepLock);

        const auto measureWholeWindows = [&] {
            while (hasWholeWindow())
            {
                runStep();
                afterEachStep();
            }
        };

        // A pending FIFO reset is answered first, so that its stale samples
        // free their room.
        momentaryFifo->answerResets();
        shortTermFifo->answerResets();
        measureWholeWindows();

        // A window at a time, so that neither FIFO can fill up.
        const auto numSamples = blockBuffer.getNumSamples();
        const auto chunk = juce::jmax (1, momentaryWindowLength);

        for (int start = 0; start < numSamples; start += chunk)
        {
            push (start, juce::jmin (chunk, numSamples - start));
            measureWholeWindows();
        }
    }

    /** Sets filters, windows, FIFOs and buffers up for a rate and block size.
        A rate below 10 Hz or above 768 kHz leaves no FIFOs, so nothing is
        measured until the next measurable rate. Must not run while a block
        is being processed. */
    void prepare (double sampleRate, int blockSize);

    /** Zeroes the state of all twelve filters; coefficients stay. */
    void resetFilters() noexcept;

    /** Empties both FIFOs, if they exist. */
    void resetFifos() noexcept;

    /** Copies the block into `blockBuffer` and K-weights it in place. Audio
        thread only. */
    void weight (const juce::AudioSampleBuffer& block);

    /** Writes a stretch of `blockBuffer` into both FIFOs. Audio thread only. */
    void push (int startSample, int numSamples);

    /** Clears both histograms and sets the six latest figures back to -70. */
    void clearMeasurement() noexcept;

    //==============================================================================
    double preparedSampleRate = 0.0;
    int momentaryWindowLength = 0;
    int shortTermWindowLength = 0;

    /** Weights each channel by its type in the layout (BS.1770: front and
        centre 1, LFE 0, surround 1.41). Channels beyond the layout keep the
        weights of the order L, R, C, LFE, Ls, Rs. Any thread; a step in
        progress may finish its window with the old weights. */
    void setChannelLayout (const juce::AudioChannelSet& layout) noexcept;

    /** The weight the measurement step gives to a channel index. */
    float getChannelWeight (int channel) const noexcept;

    std::array<std::atomic<float>, maxChannels> channelWeights { 1.0f, 1.0f, 1.0f, 0.0f, 1.41f, 1.41f };

    std::unique_ptr<OverlapFifo> momentaryFifo;
    std::unique_ptr<OverlapFifo> shortTermFifo;

    LoudnessHistogram integratedHistogram;
    LoudnessHistogram rangeHistogram;

    std::array<KWeightingFilter, maxChannels> preFilters;
    std::array<KWeightingFilter, maxChannels> rlbFilters;

    juce::AudioSampleBuffer blockBuffer;
    /** The channel count of `blockBuffer`, for the loudness thread. */
    std::atomic<int> blockBufferChannels { 0 };

    std::unique_ptr<juce::AudioSampleBuffer> momentaryWindowBuffer;
    std::unique_ptr<juce::AudioSampleBuffer> shortTermWindowBuffer;

    std::atomic<float> latestMomentary { loudnessFloor };
    std::atomic<float> latestShortTerm { loudnessFloor };
    std::atomic<float> latestIntegrated { loudnessFloor };
    std::atomic<float> latestRange { loudnessFloor };
    std::atomic<float> latestRangeLow { loudnessFloor };
    std::atomic<float> latestRangeHigh { loudnessFloor };

    std::atomic<std::int32_t> playing { 0 };

    /** Set while the audio thread measures the windows itself (the host
        renders offline or far ahead of real time): the loudness thread's time
        slices then stand aside. */
    std::atomic<bool> measuredByAudioThread { false };
    std::atomic<bool> newMomentaryAvailable { false };
    std::atomic<bool> newShortTermAvailable { false };

    /** Held by every measurement step. */
    std::mutex stepLock;

private:
    void runStep();
    bool hasWholeWindow();

    /** Loudness of a window from its weighted channel power. */
    static float blockLoudness (float power) noexcept;

    /** Sum of the weighted channel powers of a window, in channel order,
        from the square sums gathered while the window was read. */
    float weightedPower (const ChannelSquareSums& squareSums, int length) const noexcept;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TarnLoudnessModule)
};
