#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The loudness-range meter: the lit column between two positions over the
    unlit one. The editor smooths, clamps and stores both ends itself and
    repaints the meter when one changed. */
class TarnJuceLRVU final : public juce::Component
{
public:
    TarnJuceLRVU (const juce::Image& background, const juce::Image& band);
    ~TarnJuceLRVU() override;

    void paint (juce::Graphics&) override;

    /** Meter positions of the band's lower and upper edges. */
    float lowPosition = 0.0f;
    float highPosition = 0.0f;

private:
    juce::Image backgroundImage;
    juce::Image bandImage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TarnJuceLRVU)
};
