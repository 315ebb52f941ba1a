#include "processor/MeterReadings.h"

namespace
{
    constexpr auto relaxed = std::memory_order_relaxed;
}

void MeterReadings::setInitialValues() noexcept
{
    momentaryLoudness.store (-70.0f, relaxed);
    momentaryMeterPosition.store (0.0f, relaxed);
    shortTermLoudness.store (-70.0f, relaxed);
    integratedLoudness.store (-70.0f, relaxed);
    loudnessRange.store (-70.0f, relaxed);
    // The range ends start below the scale; the editor's clamp shows an empty band.
    rangeLowMeterPosition.store (-70.0f, relaxed);
    rangeHighMeterPosition.store (-70.0f, relaxed);
    shortTermMeterPosition.store (0.0f, relaxed);
    truePeakOverload.store (0, relaxed);
    measuredSamples.store (0.0, relaxed);
    maxMomentaryLoudness.store (-70.0f, relaxed);
    maxShortTermLoudness.store (-70.0f, relaxed);
}

MeterReadings::Values MeterReadings::load() const noexcept
{
    return { momentaryLoudness.load (relaxed),      momentaryMeterPosition.load (relaxed),
             shortTermLoudness.load (relaxed),      integratedLoudness.load (relaxed),
             loudnessRange.load (relaxed),          rangeLowMeterPosition.load (relaxed),
             rangeHighMeterPosition.load (relaxed), shortTermMeterPosition.load (relaxed),
             truePeakOverload.load (relaxed),       measuredSamples.load (relaxed),
             maxMomentaryLoudness.load (relaxed),   maxShortTermLoudness.load (relaxed) };
}
