#include "editor/TarnJuceArrowVU.h"

#include "editor/MeterRows.h"

TarnJuceArrowVU::TarnJuceArrowVU (const juce::Image& strip, const juce::Image& arrow)
    : juce::Component ("ArrowVUMeter"), stripImage (strip), arrowImage (arrow)
{
}

TarnJuceArrowVU::~TarnJuceArrowVU() = default;

void TarnJuceArrowVU::paint (juce::Graphics& g)
{
    const auto w = getWidth();
    const auto h = getHeight();

    g.setOpacity (1.0f);
    g.drawImage (stripImage, 0, 0, w, h, 0, 0, w, h);

    // The arrow's middle row is its tip.
    const auto y = h - meterRowsFor (position, h) - arrowImage.getHeight() / 2;

    if (arrowImage.isValid() && ! g.isClipEmpty())
        g.drawImageTransformed (arrowImage, juce::AffineTransform::translation (0.0f, (float) y));
}
