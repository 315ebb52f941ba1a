#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The short-term meter: an arrow whose tip points at the position, over a
    strip. The editor smooths, clamps and stores the position itself and
    repaints the meter when it changed. */
class TarnJuceArrowVU final : public juce::Component
{
public:
    TarnJuceArrowVU (const juce::Image& strip, const juce::Image& arrow);
    ~TarnJuceArrowVU() override;

    void paint (juce::Graphics&) override;

    /** Meter position of the arrow's tip, 0 at the bottom, 1 at the top. */
    float position = 0.0f;

private:
    juce::Image stripImage;
    juce::Image arrowImage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TarnJuceArrowVU)
};
