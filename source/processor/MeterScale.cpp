#include "processor/MeterScale.h"

#include <cmath>

MeterScale::MeterScale (float lowLoudness, float highLoudness) noexcept
    : low (lowLoudness),
      high (highLoudness),
      k (highLoudness - lowLoudness),
      rawLow (raw (lowLoudness)),
      rawHigh (raw (highLoudness)),
      rawSpan (rawHigh - rawLow)
{
}

float MeterScale::raw (float loudness) const noexcept
{
    const float q = loudness / k;
    return static_cast<float> (std::exp (static_cast<double> (k)) * std::exp (static_cast<double> (q)));
}

float MeterScale::position (float loudness) const noexcept
{
    return (raw (loudness) - rawLow) / rawSpan;
}
