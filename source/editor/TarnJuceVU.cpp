#include "editor/TarnJuceVU.h"

#include "editor/MeterRows.h"

#include <cmath>

namespace
{
    // Written so that not a number ends at 0 too.
    float clampLevel (float value) noexcept
    {
        return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
    }
}

TarnJuceVU::TarnJuceVU (const juce::Image& background, const juce::Image& lit)
    : juce::Component ("VUMeter"), backgroundImage (background), litImage (lit)
{
}

TarnJuceVU::~TarnJuceVU() = default;

void TarnJuceVU::setLevel (float newLevel)
{
    const auto clamped = clampLevel (newLevel);

    if (std::abs ((double) level - (double) clamped) <= 1.0e-8 * std::abs ((double) level))
        return;

    level = clamped;
    repaint();
}

void TarnJuceVU::paint (juce::Graphics& g)
{
    level = clampLevel (level);

    const auto w = getWidth();
    const auto h = getHeight();

    g.setOpacity (1.0f);
    g.drawImage (backgroundImage, 0, 0, w, h, 0, 0, w, h);

    // The same rectangle as source and destination keeps the image 1:1, so
    // its rows land on the component rows of the same number.
    if (const auto px = meterRowsFor (level, h); px != 0)
        g.drawImage (litImage, 0, h - px, w, px, 0, h - px, w, px);
}
