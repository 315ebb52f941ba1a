#include "processor/OverlapFifo.h"

#include <cmath>

namespace
{
    constexpr std::uint64_t packAnswer (std::uint32_t requests, int mark) noexcept
    {
        return (static_cast<std::uint64_t> (requests) << 32) | static_cast<std::uint32_t> (mark);
    }

    constexpr std::uint32_t answeredRequests (std::uint64_t answer) noexcept
    {
        return static_cast<std::uint32_t> (answer >> 32);
    }

    constexpr int answerMark (std::uint64_t answer) noexcept
    {
        return static_cast<int> (answer & 0xffffffffu);
    }
}

OverlapFifo::OverlapFifo (int capacityToUse, float overlapToUse)
    : capacity (juce::jmax (1, capacityToUse)),
      buffer (numChannels, capacity),
      overlap (overlapToUse)
{
    jassert (capacityToUse > 0);
    jassert (overlapToUse >= 0.0f && overlapToUse < 1.0f);

    buffer.clear();
    ring = buffer.getArrayOfWritePointers();
}

int OverlapFifo::distance (int from, int to) const noexcept
{
    return to >= from ? to - from : capacity - (from - to);
}

void OverlapFifo::reset()
{
    resetRequests.fetch_add (1, std::memory_order_acq_rel);
}

void OverlapFifo::answerResets() noexcept
{
    const auto requests = resetRequests.load (std::memory_order_acquire);

    if (requests != answeredRequests (resetAnswer.load (std::memory_order_relaxed)))
        resetAnswer.store (packAnswer (requests, writePosition.load (std::memory_order_relaxed)),
                           std::memory_order_release);
}

void OverlapFifo::write (const juce::AudioSampleBuffer& block)
{
    // Answer resets before copying, so that this block is the first fresh audio.
    answerResets();

    const auto written = writePosition.load (std::memory_order_relaxed);
    const auto read = readPosition.load (std::memory_order_acquire);
    const auto freeSpace = written >= read ? capacity - (written - read) : read - written;
    const auto numToWrite = juce::jmin (block.getNumSamples(), freeSpace - 1);

    if (numToWrite <= 0)
        return;

    const auto first = juce::jmin (numToWrite, capacity - written);
    const auto second = numToWrite - first > 0 ? juce::jmin (numToWrite - first, read) : 0;

    const auto blockChannels = juce::jmin (block.getNumChannels(), numChannels);

    for (int c = 0; c < blockChannels; ++c)
    {
        const auto* source = block.getReadPointer (c);
        juce::FloatVectorOperations::copy (ring[c] + written, source, first);

        if (second > 0)
            juce::FloatVectorOperations::copy (ring[c], source + first, second);
    }

    // Channels the block lacks are silent, not whatever an earlier lap of the
    // ring left there.
    for (int c = blockChannels; c < numChannels; ++c)
    {
        juce::FloatVectorOperations::clear (ring[c] + written, first);

        if (second > 0)
            juce::FloatVectorOperations::clear (ring[c], second);
    }

    auto newPosition = written + first + second;

    if (newPosition >= capacity)
        newPosition -= capacity;

    // Published only once the samples are in place.
    writePosition.store (newPosition, std::memory_order_release);
}

OverlapFifo::ResetState OverlapFifo::catchUpWithReset (int& read, int& written, std::uint32_t& requestsSeen)
{
    // The answer first: the write position loaded after it is at or past its mark.
    const auto answer = resetAnswer.load (std::memory_order_acquire);
    requestsSeen = resetRequests.load (std::memory_order_acquire);
    read = readPosition.load (std::memory_order_relaxed);
    written = writePosition.load (std::memory_order_acquire);

    if (requestsSeen != answeredRequests (answer))
        return ResetState::pending;

    if (answeredRequests (answer) == resetsApplied)
        return ResetState::none;

    resetsApplied = answeredRequests (answer);
    const auto mark = answerMark (answer);

    // Forward only: the writer may still be judging its free space by an
    // older read position, which must never turn out to be too late.
    if (distance (mark, written) < distance (read, written))
    {
        read = mark;
        readPosition.store (read, std::memory_order_release);
    }

    return ResetState::applied;
}

int OverlapFifo::getNumReady()
{
    int read = 0, written = 0;
    std::uint32_t requests = 0;

    if (catchUpWithReset (read, written, requests) == ResetState::pending)
        return 0;

    return distance (read, written);
}

bool OverlapFifo::readWindow (juce::AudioSampleBuffer& destination, int count, ChannelSquareSums* squareSums)
{
    int read = 0, written = 0;
    std::uint32_t requests = 0;

    // After a reset the caller's idea of what is ready is out of date: a
    // window read now could come out short and padded with silence.
    if (catchUpWithReset (read, written, requests) != ResetState::none)
    {
        destination.clear();
        return false;
    }

    // Never more than the destination holds, whatever count asks for.
    const auto numToRead = juce::jmin (count, distance (read, written), destination.getNumSamples());

    if (numToRead <= 0)
    {
        destination.clear();
        return true;
    }

    const auto first = juce::jmin (numToRead, capacity - read);
    const auto second = numToRead - first > 0 ? juce::jmin (numToRead - first, written) : 0;
    const auto copied = juce::jmin (destination.getNumChannels(), numChannels);

    auto* const* out = destination.getArrayOfWritePointers();
    const float* from[numChannels] {};
    float* to[numChannels] {};

    const auto copy = [&] (int ringStart, int destinationStart, int length) {
        for (int c = 0; c < copied; ++c)
        {
            from[c] = ring[c] + ringStart;
            to[c] = out[c] + destinationStart;
        }

        if (squareSums != nullptr)
            squareSums->copyAndAdd (from, to, copied, length);
        else
            for (int c = 0; c < copied; ++c)
                juce::FloatVectorOperations::copy (to[c], from[c], length);
    };

    copy (read, 0, first);

    if (second > 0)
        copy (0, first, second);

    // Only what the copy leaves uncovered is cleared: clearing a whole 3 s
    // window first would cost as much again as copying it.
    for (int c = 0; c < copied; ++c)
        destination.clear (c, first + second, destination.getNumSamples() - (first + second));

    for (int c = copied; c < destination.getNumChannels(); ++c)
        destination.clear (c, 0, destination.getNumSamples());

    // The window is from before a reset that came meanwhile; leave the read
    // position for the next call to move to the reset's mark.
    if (resetRequests.load (std::memory_order_acquire) != requests)
        return false;

    const auto hop = static_cast<int> (std::floor ((1.0f - overlap) * static_cast<float> (first + second)));
    auto newPosition = read + hop;

    if (newPosition >= capacity)
        newPosition -= capacity;

    readPosition.store (newPosition, std::memory_order_release);
    return true;
}
