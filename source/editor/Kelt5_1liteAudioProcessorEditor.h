#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/DisplaySnapshot.h"
#include "editor/TarnJuceArrowVU.h"
#include "editor/TarnJuceLRVU.h"
#include "editor/TarnJuceVU.h"

class Kelt5_1liteAudioProcessor;

/** The plug-in's window, fixed at 249 x 502 pixels: a tab bar over the Meter,
    Statistics and Settings pages. A 50 ms timer refreshes it from the
    processor's published readings; it registers nothing on the processor. */
class Kelt5_1liteAudioProcessorEditor final : public juce::AudioProcessorEditor,
                                              public juce::Button::Listener,
                                              public juce::Timer,
                                              public juce::ComboBox::Listener,
                                              public juce::ChangeListener
{
public:
    explicit Kelt5_1liteAudioProcessorEditor (Kelt5_1liteAudioProcessor&);
    ~Kelt5_1liteAudioProcessorEditor() override;

    void paint (juce::Graphics&) override;
    void buttonClicked (juce::Button*) override;
    void buttonStateChanged (juce::Button*) override;
    void timerCallback() override;
    void comboBoxChanged (juce::ComboBox*) override;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;

    /** A loudness as shown: "-" at or below -60, otherwise one decimal, a
        blank and the unit. */
    static juce::String formatLoudnessValue (float value, const juce::String& unit);

    /** Writes the texts that follow the metering mode. */
    void updateModeTexts();

    static constexpr int editorWidth = 249;
    static constexpr int editorHeight = 502;

private:
    Kelt5_1liteAudioProcessor& getKeltProcessor() const noexcept;

    juce::Colour lightGreyColour, outlineGreyColour, greenColour, redColour;

    juce::Label productLabel;

    juce::ImageComponent meterPage;
    juce::Component settingsPage, statisticsPage;

    juce::Image logoImage, playDisabledImage, playDisabledOnImage, playNormalImage, playNormalOnImage,
        resetNormalImage, resetDownImage, backgroundEbu18, backgroundEbu9, backgroundOther18,
        backgroundOther9, truePeakOnImage, truePeakOffImage, scaleNormalOnImage, scaleNormalImage,
        scaleDownOnImage, scaleDownImage;

    juce::DrawableImage playDisabledDrawable, playDisabledOnDrawable, playNormalDrawable, playNormalOnDrawable,
        resetNormalDrawable, resetDownDrawable, truePeakOnDrawable, truePeakOffDrawable,
        scaleNormalOnDrawable, scaleNormalDrawable, scaleDownOnDrawable, scaleDownDrawable;

    juce::DrawableButton playStateButton, resetButton, truePeakButton, scaleButton;

    juce::Label scale18Label, scale9Label;

    TarnJuceVU momentaryMeter;
    TarnJuceArrowVU shortTermMeter;
    TarnJuceLRVU rangeMeter;

    juce::Label integratedValueLabel, shortTermValueLabel, rangeValueLabel, integratedCaption, shortTermCaption,
        rangeCaption, peakCaption, timeLabel, modeLabel, meterUnitLabel;

    DisplaySnapshot snapshot;

    juce::TabbedButtonBar tabBar;

    juce::Label modeCaption;
    juce::ComboBox modeComboBox;
    juce::Label truePeakLimitCaption;
    juce::ComboBox truePeakLimitComboBox;

    juce::Label programLoudnessCaption, programLoudnessValueLabel, programLoudnessUnitLabel, loudnessRangeValueLabel,
        loudnessRangeUnitLabel, loudnessRangeCaption, maxShortTermCaption, maxShortTermValueLabel,
        maxShortTermUnitLabel, maxMomentaryCaption, maxMomentaryValueLabel, maxMomentaryUnitLabel;

    juce::Image settingsLogoImage;
    juce::ImageComponent settingsLogo;

    juce::HyperlinkButton contactLink, userGuideLink;

    juce::Label aboutLabel;

    juce::ImageComponent meterLogo, statisticsLogo;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Kelt5_1liteAudioProcessorEditor)
};
