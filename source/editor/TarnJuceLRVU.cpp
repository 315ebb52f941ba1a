#include "editor/TarnJuceLRVU.h"

#include "editor/MeterRows.h"

TarnJuceLRVU::TarnJuceLRVU (const juce::Image& background, const juce::Image& band)
    : juce::Component ("LRVUMeter"), backgroundImage (background), bandImage (band)
{
}

TarnJuceLRVU::~TarnJuceLRVU() = default;

void TarnJuceLRVU::paint (juce::Graphics& g)
{
    const auto w = getWidth();
    const auto h = getHeight();

    g.setOpacity (1.0f);
    g.drawImage (backgroundImage, 0, 0, w, h, 0, 0, w, h);

    const auto lo = meterRowsFor (lowPosition, h);
    const auto hi = meterRowsFor (highPosition, h);

    // An empty or upside-down range draws no band.
    if (hi > lo)
        g.drawImage (bandImage, 0, h - hi, w, hi - lo, 0, h - hi, w, hi - lo);
}
