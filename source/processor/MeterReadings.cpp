#include "processor/MeterReadings.h"
#include "processor/MeasurementConstants.h"

void MeterReadings::setInitialValues() noexcept
{
    momentaryLoudness.store (loudnessFloor, relaxed);
    momentaryMeterPosition.store (0.0f, relaxed);
    shortTermLoudness.store (loudnessFloor, relaxed);
    integratedLoudness.store (loudnessFloor, relaxed);
    loudnessRange.store (loudnessFloor, relaxed);
    // The range ends start below the scale; the editor's clamp shows an empty band.
    rangeLowMeterPosition.store (loudnessFloor, relaxed);
    rangeHighMeterPosition.store (loudnessFloor, relaxed);
    shortTermMeterPosition.store (0.0f, relaxed);
    truePeakOverload.store (0, relaxed);
    measuredSamples.store (0.0, relaxed);
    maxMomentaryLoudness.store (loudnessFloor, relaxed);
    maxShortTermLoudness.store (loudnessFloor, relaxed);
}

MeterReadings::Values MeterReadings::load() const noexcept
{
    return { momentaryLoudness.load (relaxed), momentaryMeterPosition.load (relaxed),
             shortTermLoudness.load (relaxed), integratedLoudness.load (relaxed),
             loudnessRange.load (relaxed), rangeLowMeterPosition.load (relaxed),
             rangeHighMeterPosition.load (relaxed), shortTermMeterPosition.load (relaxed),
             truePeakOverload.load (relaxed), measuredSamples.load (relaxed),
             maxMomentaryLoudness.load (relaxed), maxShortTermLoudness.load (relaxed) };
}
