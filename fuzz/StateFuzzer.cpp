// libFuzzer target for the saved-settings reader: any block a host hands back
// must be absorbed without a crash, a hang or a leak, and whatever scale it
// yields must survive the next save and restore.

#include "processor/SavedSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    const auto clampedSize = static_cast<int> (std::min (size, static_cast<std::size_t> (std::numeric_limits<int>::max())));
    const auto scale = SavedSettings::read (data, clampedSize);

    if (! scale.has_value())
        return 0;

    juce::MemoryBlock saved;
    SavedSettings::write (*scale, saved);
    const auto reread = SavedSettings::read (saved.getData(), static_cast<int> (saved.getSize()));

    if (! reread.has_value() || (std::isnan (*scale) ? ! std::isnan (*reread) : *reread != *scale))
        std::abort();

    return 0;
}
