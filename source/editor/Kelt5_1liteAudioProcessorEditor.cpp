#include "editor/Kelt5_1liteAudioProcessorEditor.h"

#include "editor/PlayTimeText.h"
#include "processor/Kelt5_1liteAudioProcessor.h"

#include "KeltImages.h"

#include <algorithm>
#include <cmath>

namespace
{
    // The about text's product name and build; the version is the plug-in's own.
    const char* const aboutProductName = "Kelt5.1LE";
    constexpr int buildNumber = 510;

    // The true-peak limits that the limit list offers, by item id from 1.
    constexpr float truePeakLimits[] = { -1.0f, -2.0f, -3.0f, -4.0f, -6.0f, -9.0f, -10.0f, -12.0f };

    /** One step of the meters' glide: a tenth of the way towards the
        published position, held to the meter. A position that is not a
        number leaves the meter at the bottom. */
    float glide (float shown, float published) noexcept
    {
        return std::min (1.0f, std::max (0.0f, 0.1f * published + 0.9f * shown));
    }

    juce::Image decode (const char* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }

    juce::String withNoBreakSpaces (const char* word)
    {
        // The no-break spaces widen the tabs; plain spaces would be trimmed.
        const auto noBreakSpace = juce::String::charToString ((juce::juce_wchar) 0x00a0);
        return noBreakSpace + word + noBreakSpace;
    }

    void setUpLabel (juce::Label& label, const juce::String& text, const juce::Font& font,
                     juce::Colour colour, juce::Justification justification, bool takesClicks)
    {
        label.setFont (font);
        label.setColour (juce::Label::textColourId, colour);
        label.setJustificationType (justification);
        label.setText (text, juce::dontSendNotification);

        if (! takesClicks)
            label.setInterceptsMouseClicks (false, false);
    }

    // A page of the maker's site, on the host of the plug-in's other web identity.
    juce::URL makersPage (const char* path)
    {
        return juce::URL (JucePlugin_ManufacturerWebsite).getChildURL (path);
    }

    void setUpLink (juce::HyperlinkButton& link, const juce::String& text)
    {
        link.setFont (juce::Font (14.0f), false, juce::Justification::horizontallyCentred);
        link.setColour (juce::HyperlinkButton::textColourId, juce::Colours::white);
        link.setButtonText (text);
    }
}

Kelt5_1liteAudioProcessorEditor::Kelt5_1liteAudioProcessorEditor (Kelt5_1liteAudioProcessor& p)
    : juce::AudioProcessorEditor (p),
      lightGreyColour (0xffd8d8d8),
      outlineGreyColour (0xff979797),
      greenColour (0xff81ca2f),
      redColour (0xffd70014),
      playStateButton ({}, juce::DrawableButton::ImageRaw),
      resetButton ({}, juce::DrawableButton::ImageRaw),
      truePeakButton ({}, juce::DrawableButton::ImageRaw),
      scaleButton ({}, juce::DrawableButton::ImageRaw),
      momentaryMeter (decode (KeltImages::momentarybackground_png, KeltImages::momentarybackground_pngSize),
                      decode (KeltImages::momentarylit_png, KeltImages::momentarylit_pngSize)),
      shortTermMeter (decode (KeltImages::shorttermstrip_png, KeltImages::shorttermstrip_pngSize),
                      decode (KeltImages::shorttermarrow_png, KeltImages::shorttermarrow_pngSize)),
      rangeMeter (decode (KeltImages::rangebackground_png, KeltImages::rangebackground_pngSize),
                  decode (KeltImages::rangeband_png, KeltImages::rangeband_pngSize)),
      tabBar (juce::TabbedButtonBar::TabsAtTop),
      // The links get their pages here: JUCE 7.0.5 assigns a URL by copying
      // its empty post data through a null pointer, which setURL would do.
      contactLink ({}, makersPage ("contact-us/")),
      userGuideLink ({}, makersPage ("support/"))
{
    logoImage = decode (KeltImages::logo_png, KeltImages::logo_pngSize);

    setSize (editorWidth, editorHeight);

    backgroundEbu18 = decode (KeltImages::meterebu18_png, KeltImages::meterebu18_pngSize);
    backgroundEbu9 = decode (KeltImages::meterebu9_png, KeltImages::meterebu9_pngSize);
    backgroundOther18 = decode (KeltImages::meterother18_png, KeltImages::meterother18_pngSize);
    backgroundOther9 = decode (KeltImages::meterother9_png, KeltImages::meterother9_pngSize);
    truePeakOnImage = decode (KeltImages::truepeakon_png, KeltImages::truepeakon_pngSize);
    truePeakOffImage = decode (KeltImages::truepeakoff_png, KeltImages::truepeakoff_pngSize);
    playDisabledImage = decode (KeltImages::playdisabled_png, KeltImages::playdisabled_pngSize);
    playDisabledOnImage = decode (KeltImages::playdisabledon_png, KeltImages::playdisabledon_pngSize);
    playNormalImage = decode (KeltImages::playnormal_png, KeltImages::playnormal_pngSize);
    playNormalOnImage = decode (KeltImages::playnormalon_png, KeltImages::playnormalon_pngSize);
    resetNormalImage = decode (KeltImages::resetnormal_png, KeltImages::resetnormal_pngSize);
    resetDownImage = decode (KeltImages::resetdown_png, KeltImages::resetdown_pngSize);
    scaleNormalImage = decode (KeltImages::scalenormal_png, KeltImages::scalenormal_pngSize);
    scaleDownImage = decode (KeltImages::scaledown_png, KeltImages::scaledown_pngSize);
    scaleNormalOnImage = decode (KeltImages::scalenormalon_png, KeltImages::scalenormalon_pngSize);
    scaleDownOnImage = decode (KeltImages::scaledownon_png, KeltImages::scaledownon_pngSize);

    // The tab bar. Its first tab becomes current while nobody listens yet.
    addAndMakeVisible (tabBar);
    tabBar.setOrientation (juce::TabbedButtonBar::TabsAtTop);
    tabBar.setBounds (0, 0, 249, 30);
    tabBar.addTab (withNoBreakSpaces (" Meter "), juce::Colours::black, 0);
    tabBar.addTab (withNoBreakSpaces ("Statistics"), lightGreyColour, 1);
    tabBar.addTab (withNoBreakSpaces (" Settings "), lightGreyColour, 2);
    tabBar.addChangeListener (this);

    // The Meter page.
    meterPage.setBounds (0, 30, 249, 472);
    meterPage.setImage (backgroundEbu9);

    meterPage.addAndMakeVisible (momentaryMeter);
    momentaryMeter.setBounds (58, 41, 25, 352);
    momentaryMeter.repaint();

    meterPage.addAndMakeVisible (shortTermMeter);
    shortTermMeter.setBounds (126, 41, 16, 352);
    shortTermMeter.repaint();

    meterPage.addAndMakeVisible (rangeMeter);
    rangeMeter.setBounds (110, 41, 16, 352);
    rangeMeter.repaint();

    truePeakOffDrawable.setImage (truePeakOffImage);
    truePeakOnDrawable.setImage (truePeakOnImage);
    truePeakButton.setImages (&truePeakOffDrawable, nullptr, nullptr, &truePeakOffDrawable, &truePeakOnDrawable);
    truePeakButton.setClickingTogglesState (true);
    truePeakButton.setEnabled (false);
    truePeakButton.setToggleState (false, juce::dontSendNotification);
    truePeakButton.setBounds (210, 37, 20, 20);
    truePeakButton.addListener (this);
    meterPage.addAndMakeVisible (truePeakButton);

    const juce::Font plain14 (14.0f), plain15 (15.0f), plain17 (17.0f);
    const juce::Font italic14 (14.0f, juce::Font::italic);
    const auto white = juce::Colours::white;

    setUpLabel (peakCaption, "Peak", plain17, white, juce::Justification::centredLeft, false);
    peakCaption.setBounds (167, 17, 90, 60);
    meterPage.addAndMakeVisible (peakCaption);

    setUpLabel (timeLabel, "00:00:00:00", plain15, white, juce::Justification::centredLeft, false);
    timeLabel.setBounds (154, 285, 84, 60);
    meterPage.addAndMakeVisible (timeLabel);

    setUpLabel (modeLabel, "EBU", plain15, greenColour, juce::Justification::centred, false);
    modeLabel.setBounds (154, 248, 84, 60);
    meterPage.addAndMakeVisible (modeLabel);

    setUpLabel (meterUnitLabel, "MLk LUFS", plain17, white, juce::Justification::centred, false);
    meterUnitLabel.setColour (juce::Label::backgroundColourId, juce::Colours::black);
    meterUnitLabel.setBounds (13, 408, 120, 20);
    meterPage.addAndMakeVisible (meterUnitLabel);

    playNormalDrawable.setImage (playNormalImage);
    playDisabledDrawable.setImage (playDisabledImage);
    playNormalOnDrawable.setImage (playNormalOnImage);
    playDisabledOnDrawable.setImage (playDisabledOnImage);
    playStateButton.setImages (&playNormalDrawable, nullptr, nullptr, &playDisabledDrawable,
                               &playNormalOnDrawable, nullptr, nullptr, &playDisabledOnDrawable);
    playStateButton.setClickingTogglesState (true);
    playStateButton.setEnabled (false);
    playStateButton.setToggleState (false, juce::dontSendNotification);
    playStateButton.setBounds (154, 330, 84, 24);
    playStateButton.addListener (this);
    meterPage.addAndMakeVisible (playStateButton);

    resetNormalDrawable.setImage (resetNormalImage);
    resetDownDrawable.setImage (resetDownImage);
    resetButton.setImages (&resetNormalDrawable, nullptr, &resetDownDrawable);
    resetButton.setBounds (154, 369, 84, 24);
    resetButton.addListener (this);
    meterPage.addAndMakeVisible (resetButton);

    const struct
    {
        juce::Label& label;
        const char* text;
        const juce::Font& font;
        int y;
    } valueRows[] = {
        { integratedValueLabel, "", plain15, 75 },
        { integratedCaption, "Integrated", plain14, 92 },
        { shortTermValueLabel, "", plain15, 135 },
        { shortTermCaption, "Short Term", plain14, 152 },
        { rangeValueLabel, "", plain15, 195 },
        { rangeCaption, "Range", plain14, 212 },
    };

    for (const auto& row : valueRows)
    {
        setUpLabel (row.label, row.text, row.font, white, juce::Justification::centred, true);
        row.label.setBounds (154, row.y, 84, 60);
        meterPage.addAndMakeVisible (row.label);
    }

    scaleNormalDrawable.setImage (scaleNormalImage);
    scaleDownDrawable.setImage (scaleDownImage);
    scaleNormalOnDrawable.setImage (scaleNormalOnImage);
    scaleDownOnDrawable.setImage (scaleDownOnImage);
    scaleButton.setImages (&scaleNormalDrawable, nullptr, &scaleDownDrawable, nullptr,
                           &scaleNormalOnDrawable, nullptr, &scaleDownOnDrawable);
    scaleButton.setClickingTogglesState (true);
    scaleButton.setToggleState (false, juce::dontSendNotification);
    scaleButton.setBounds (170, 410, 40, 17);
    scaleButton.addListener (this);
    meterPage.addAndMakeVisible (scaleButton);

    setUpLabel (scale18Label, "+18", italic14, juce::Colours::darkgrey, juce::Justification::centredLeft, false);
    scale18Label.setBounds (130, 390, 140, 60);
    meterPage.addAndMakeVisible (scale18Label);

    setUpLabel (scale9Label, "+9", italic14, juce::Colours::darkgrey, juce::Justification::centredLeft, false);
    scale9Label.setBounds (210, 390, 140, 60);
    meterPage.addAndMakeVisible (scale9Label);

    meterLogo.setImage (logoImage);
    meterLogo.setBounds (8, 439, 60, 25);
    meterPage.addAndMakeVisible (meterLogo);

    statisticsLogo.setImage (logoImage);
    statisticsLogo.setBounds (8, 439, 60, 25);
    statisticsPage.addAndMakeVisible (statisticsLogo);

    setUpLabel (productLabel, "Kelt5.1 LE", plain15, white, juce::Justification::centredLeft, false);
    productLabel.setBounds (80, 4, 80, 25);
    meterPage.addAndMakeVisible (productLabel);

    addAndMakeVisible (meterPage);

    // The Settings page's lists. Both select their first item with an
    // asynchronous notification, which reaches the listener added after it:
    // so every opening applies the -1 dBTP limit.
    settingsPage.setBounds (0, 30, 249, 472);

    setUpLabel (modeCaption, "Loudness Metering Mode:", plain15, white, juce::Justification::centredLeft, true);
    modeCaption.setBounds (10, 15, 249, 20);
    settingsPage.addAndMakeVisible (modeCaption);

    modeComboBox.setBounds (15, 40, 90, 15);
    settingsPage.addAndMakeVisible (modeComboBox);

    setUpLabel (truePeakLimitCaption, "True Peak Limit:", plain15, white, juce::Justification::centredLeft, true);
    truePeakLimitCaption.setBounds (10, 60, 249, 20);
    settingsPage.addAndMakeVisible (truePeakLimitCaption);

    truePeakLimitComboBox.setBounds (15, 85, 90, 15);
    settingsPage.addAndMakeVisible (truePeakLimitComboBox);

    modeComboBox.addItem ("EBU", 1);
    modeComboBox.addItem ("ATSC", 2);
    modeComboBox.addItem ("ARIB", 3);

    for (int id = 1; id <= (int) std::size (truePeakLimits); ++id)
        truePeakLimitComboBox.addItem (juce::String ((int) truePeakLimits[id - 1]), id);

    for (auto* list : { &modeComboBox, &truePeakLimitComboBox })
    {
        list->setSelectedId (1, juce::sendNotificationAsync);
        list->setColour (juce::ComboBox::backgroundColourId, lightGreyColour);
        list->setColour (juce::ComboBox::outlineColourId, outlineGreyColour);
        list->setColour (juce::ComboBox::buttonColourId, outlineGreyColour);
        list->setColour (juce::ComboBox::arrowColourId, juce::Colours::black);
        // JUCE 7's dark default would put white text on the light grey box.
        list->setColour (juce::ComboBox::textColourId, juce::Colours::black);
        list->addListener (this);
    }

    addAndMakeVisible (settingsPage);
    settingsPage.setVisible (false);

    // The Statistics page: each value sits left of its unit and follows the
    // width of its text.
    statisticsPage.setBounds (0, 30, 249, 472);

    const struct
    {
        juce::Label& caption;
        const char* captionText;
        int captionWidth;
        juce::Label& value;
        juce::Label& unit;
        const char* unitText;
        int y;
    } statisticsRows[] = {
        { programLoudnessCaption, "Program Loudness:", 150, programLoudnessValueLabel, programLoudnessUnitLabel, "LUFS", 15 },
        { loudnessRangeCaption, "Loudness Range:", 130, loudnessRangeValueLabel, loudnessRangeUnitLabel, "LU", 45 },
        { maxShortTermCaption, "Max. S.T. Loudness:", 220, maxShortTermValueLabel, maxShortTermUnitLabel, "LUFS", 75 },
        { maxMomentaryCaption, "Max. Mom. Loudness:", 220, maxMomentaryValueLabel, maxMomentaryUnitLabel, "LUFS", 105 },
    };

    for (const auto& row : statisticsRows)
    {
        setUpLabel (row.caption, row.captionText, plain14, white, juce::Justification::centredLeft, false);
        row.caption.setBounds (13, row.y, row.captionWidth, 60);
        statisticsPage.addAndMakeVisible (row.caption);

        setUpLabel (row.value, {}, plain14, white, juce::Justification::centredLeft, false);
        statisticsPage.addAndMakeVisible (row.value);

        setUpLabel (row.unit, row.unitText, plain14, white, juce::Justification::centredLeft, false);
        statisticsPage.addAndMakeVisible (row.unit);
        row.value.attachToComponent (&row.unit, true);
        row.unit.setBounds (190, row.y, 130, 60);
    }

    addAndMakeVisible (statisticsPage);
    statisticsPage.setVisible (false);

    updateModeTexts();

    // The Settings page's about text, links and logo.
    settingsLogoImage = decode (KeltImages::logo_png, KeltImages::logo_pngSize);

    setUpLabel (aboutLabel,
                juce::String (aboutProductName) + " Version:" + JucePlugin_VersionString + "\nBuild:" + juce::String (buildNumber),
                plain14, white, juce::Justification::centred, false);
    aboutLabel.setBounds (0, 276, 249, 40);
    settingsPage.addAndMakeVisible (aboutLabel);

    setUpLink (contactLink, "Contact us");
    contactLink.setBounds (85, 352, 80, 20);
    settingsPage.addAndMakeVisible (contactLink);

    setUpLink (userGuideLink, "User Guide");
    userGuideLink.setBounds (85, 382, 80, 20);
    settingsPage.addAndMakeVisible (userGuideLink);

    settingsLogo.setImage (settingsLogoImage);
    settingsLogo.setBounds (30, 150, 194, 60);
    settingsPage.addAndMakeVisible (settingsLogo);

    startTimer (50);
    snapshot.integratedColourThresholds = { -20.6f, -22.0f, -24.0f, -28.4f };
}

Kelt5_1liteAudioProcessorEditor::~Kelt5_1liteAudioProcessorEditor() = default;

Kelt5_1liteAudioProcessor& Kelt5_1liteAudioProcessorEditor::getKeltProcessor() const noexcept
{
    return static_cast<Kelt5_1liteAudioProcessor&> (processor);
}

void Kelt5_1liteAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
}

void Kelt5_1liteAudioProcessorEditor::buttonStateChanged (juce::Button*)
{
}

void Kelt5_1liteAudioProcessorEditor::updateModeTexts()
{
    const struct
    {
        const char* mode;
        const char* unit;
    } modes[] = {
        { "EBU", "LUFS" }, { "ATSC", "LKFS" }, { "ARIB", "LKFS" }
    };

    const auto id = modeComboBox.getSelectedId();

    if (id < 1 || id > (int) std::size (modes))
        return;

    const auto& mode = modes[id - 1];
    modeLabel.setText (mode.mode, juce::dontSendNotification);
    programLoudnessUnitLabel.setText (mode.unit, juce::dontSendNotification);
    maxShortTermUnitLabel.setText (mode.unit, juce::dontSendNotification);
    maxMomentaryUnitLabel.setText (mode.unit, juce::dontSendNotification);
    meterUnitLabel.setText (juce::String ("MLk ") + mode.unit, juce::dontSendNotification);
}

void Kelt5_1liteAudioProcessorEditor::comboBoxChanged (juce::ComboBox* comboBox)
{
    if (comboBox != &truePeakLimitComboBox)
        return;

    const auto id = truePeakLimitComboBox.getSelectedId();

    if (id < 1 || id > (int) std::size (truePeakLimits))
        return;

    // The indexed parameter interface is deprecated in JUCE 7; the processor
    // is built on it.
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    getKeltProcessor().setParameterNotifyingHost (2, (truePeakLimits[id - 1] + 12.0f) / 11.0f);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

//==============================================================================
juce::String Kelt5_1liteAudioProcessorEditor::formatLoudnessValue (float value, const juce::String& unit)
{
    // Not a number is no measurement either, and shows as one.
    if (! (value > -60.0f) || ! std::isfinite (value))
        return "-";

    const auto magnitude = std::abs (static_cast<double> (value)) * 10.0 + 0.5;

    // Far beyond any loudness: the framework's text rather than an overflow.
    if (! (magnitude < 1.0e18))
        return juce::String (static_cast<double> (value), 1) + " " + unit;

    const auto tenths = static_cast<juce::int64> (magnitude);

    return juce::String (value < 0.0f ? "-" : "")
         + juce::String (tenths / 10) + "." + juce::String (tenths % 10)
         + " " + unit;
}

void Kelt5_1liteAudioProcessorEditor::timerCallback()
{
    auto& p = getKeltProcessor();

    // Hiding the other pages is the tab handler's work.
    switch (tabBar.getCurrentTabIndex())
    {
        case 0: meterPage.setVisible (true); break;
        case 1: statisticsPage.setVisible (true); break;
        case 2: settingsPage.setVisible (true); break;
        default: break;
    }

    snapshot.readings = p.readings.load();
    snapshot.positionInfo.frameRate = p.lastFrameRate.load (relaxed);
    const auto& r = snapshot.readings;

    timeLabel.setText (PlayTimeText::format (r.measuredSamples, p.currentSampleRate.load (relaxed),
                                             snapshot.positionInfo.frameRate),
                       juce::dontSendNotification);

    momentaryMeter.setLevel (r.momentaryMeterPosition);

    const auto arrow = glide (shortTermMeter.position, r.shortTermMeterPosition);

    if (arrow != shortTermMeter.position)
    {
        shortTermMeter.position = arrow;
        shortTermMeter.repaint();
    }

    const auto low = glide (rangeMeter.lowPosition, r.rangeLowMeterPosition);
    const auto high = glide (rangeMeter.highPosition, r.rangeHighMeterPosition);

    if (low != rangeMeter.lowPosition || high != rangeMeter.highPosition)
    {
        rangeMeter.lowPosition = low;
        rangeMeter.highPosition = high;
        rangeMeter.repaint();
    }

    rangeValueLabel.setText (formatLoudnessValue (r.loudnessRange, "LU"), juce::dontSendNotification);

    const auto integrated = r.integratedLoudness;
    const auto& limits = snapshot.integratedColourThresholds; // -20.6, -22, -24, -28.4
    auto integratedColour = redColour;

    if (integrated <= limits[1] && integrated >= limits[2])
        integratedColour = greenColour;
    else if ((integrated <= limits[0] && integrated > limits[1]) || (integrated < limits[2] && integrated >= limits[3]))
        integratedColour = juce::Colours::yellow;

    integratedValueLabel.setColour (juce::Label::textColourId, integratedColour);
    shortTermValueLabel.setColour (juce::Label::textColourId, r.shortTermLoudness < -20.0f ? greenColour : redColour);

    const auto modeId = modeComboBox.getSelectedId();
    const juce::String unit = modeId == 1 ? "LUFS" : (modeId == 2 || modeId == 3) ? "LKFS"
                                                                                  : "";

    shortTermValueLabel.setText (formatLoudnessValue (r.shortTermLoudness, unit), juce::dontSendNotification);
    integratedValueLabel.setText (formatLoudnessValue (integrated, unit), juce::dontSendNotification);

    // Enabled only while lit, so that only a lit indicator takes a click.
    if (r.truePeakOverload == 1)
    {
        truePeakButton.setEnabled (true);
        truePeakButton.setToggleState (true, juce::dontSendNotification);
    }
    else
    {
        truePeakButton.setToggleState (false, juce::dontSendNotification);
        truePeakButton.setEnabled (false);
    }

    playStateButton.setToggleState (juce::roundToInt (p.hostPlaying.load (relaxed)) != 0, juce::dontSendNotification);

    const bool scale18 = juce::roundToInt (p.measurementScale.load (relaxed)) == 18;
    scaleButton.setToggleState (scale18, juce::dontSendNotification);

    if (modeId == 1)
        meterPage.setImage (scale18 ? backgroundEbu18 : backgroundEbu9);
    else
        meterPage.setImage (scale18 ? backgroundOther18 : backgroundOther9);

    const juce::Font litCaption (14.0f, juce::Font::plain), unlitCaption (14.0f, juce::Font::italic);
    scale18Label.setColour (juce::Label::textColourId, scale18 ? juce::Colours::white : juce::Colours::darkgrey);
    scale18Label.setFont (scale18 ? litCaption : unlitCaption);
    scale9Label.setColour (juce::Label::textColourId, scale18 ? juce::Colours::darkgrey : juce::Colours::white);
    scale9Label.setFont (scale18 ? unlitCaption : litCaption);

    programLoudnessValueLabel.setText (formatLoudnessValue (integrated, {}), juce::dontSendNotification);
    loudnessRangeValueLabel.setText (formatLoudnessValue (r.loudnessRange, {}), juce::dontSendNotification);
    maxShortTermValueLabel.setText (formatLoudnessValue (r.maxShortTermLoudness, {}), juce::dontSendNotification);
    maxMomentaryValueLabel.setText (formatLoudnessValue (r.maxMomentaryLoudness, {}), juce::dontSendNotification);

    updateModeTexts();
}

void Kelt5_1liteAudioProcessorEditor::buttonClicked (juce::Button* button)
{
    auto& p = getKeltProcessor();

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    if (button == &resetButton)
        p.resetMeasurement();
    else if (button == &scaleButton)
        p.setParameterNotifyingHost (1, scaleButton.getToggleState() ? 1.0f : 0.0f);
    else if (button == &truePeakButton)
        p.readings.truePeakOverload.store (0, relaxed);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

void Kelt5_1liteAudioProcessorEditor::changeListenerCallback (juce::ChangeBroadcaster* source)
{
    if (source != &tabBar)
        return;

    const auto index = tabBar.getCurrentTabIndex();

    if (index < 0 || index > 2)
        return;

    settingsPage.setVisible (index == 2);
    meterPage.setVisible (index == 0);
    statisticsPage.setVisible (index == 1);

    static constexpr int otherTabs[3][2] = { { 2, 1 }, { 0, 2 }, { 0, 1 } };
    tabBar.setTabBackgroundColour (index, juce::Colours::black);

    for (auto other : otherTabs[index])
        tabBar.setTabBackgroundColour (other, lightGreyColour);

    repaint();
}
