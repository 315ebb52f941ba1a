#pragma once

#include <juce_core/juce_core.h>

#include <optional>

/** The block of saved settings that hosts store with their projects: the
    framework's binary XML (little-endian magic 0x21324356, text length, the
    text, a zero byte) around one element that holds the meter scale.

    Hosts hand back whatever they stored, from any version, so the reader
    absorbs every malformed or hostile block by refusing it.
*/
namespace SavedSettings
{
    /** Replaces the contents of the block with the settings for a scale. */
    void write (float measurementScale, juce::MemoryBlock& destination);

    /** The scale a block holds, or nothing when it is not a readable block
        of ours. Any number is taken as it is: hosts may hand back any scale
        they stored. */
    std::optional<float> read (const void* data, int sizeInBytes);
}
