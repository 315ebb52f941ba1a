#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "processor/MeterReadings.h"

#include <array>

/** The editor's copy of what the processor published, taken on each refresh,
    with the fixed thresholds that colour the integrated value. */
struct DisplaySnapshot
{
    MeterReadings::Values readings {};
    juce::AudioPlayHead::CurrentPositionInfo positionInfo;
    std::array<float, 4> integratedColourThresholds {};
};
