#pragma once

#include <atomic>
#include <cstdint>

/** The readings the block path publishes and the editor copies.

    Every field is an atomic of its own width, written and read whole without
    a lock; a copy of the record may mix fields of two blocks.
*/
struct MeterReadings final
{
    /** A plain copy of the record, as the editor takes it. */
    struct Values
    {
        float momentaryLoudness, momentaryMeterPosition, shortTermLoudness, integratedLoudness,
            loudnessRange, rangeLowMeterPosition, rangeHighMeterPosition, shortTermMeterPosition;
        std::int32_t truePeakOverload;
        double measuredSamples;
        float maxMomentaryLoudness, maxShortTermLoudness;
    };

    MeterReadings() noexcept { setInitialValues(); }

    /** Writes the initial values, field by field in declaration order. */
    void setInitialValues() noexcept;

    Values load() const noexcept;

    std::atomic<float> momentaryLoudness;
    std::atomic<float> momentaryMeterPosition;
    std::atomic<float> shortTermLoudness;
    std::atomic<float> integratedLoudness;
    std::atomic<float> loudnessRange;
    std::atomic<float> rangeLowMeterPosition;
    std::atomic<float> rangeHighMeterPosition;
    std::atomic<float> shortTermMeterPosition;
    std::atomic<std::int32_t> truePeakOverload;
    std::atomic<double> measuredSamples;
    std::atomic<float> maxMomentaryLoudness;
    std::atomic<float> maxShortTermLoudness;
};
