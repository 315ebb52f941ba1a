#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The momentary bar: an unlit image with the lit image shown from the
    bottom up to the level. */
class TarnJuceVU final : public juce::Component
{
public:
    TarnJuceVU (const juce::Image& background, const juce::Image& lit);
    ~TarnJuceVU() override;

    /** Clamps the level to 0..1 and repaints only when it changed. */
    void setLevel (float newLevel);
    float getLevel() const noexcept { return level; }

    void paint (juce::Graphics&) override;

private:
    float level = 0.0f;
    juce::Image backgroundImage;
    juce::Image litImage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TarnJuceVU)
};
