#pragma once

#include "editor/Kelt5_1liteAudioProcessorEditor.h"

#include <algorithm>
#include <iterator>

/** The editor's pages and controls, found in its component tree where the
    layout puts them, so that tests see and click what a user does. */
struct EditorParts
{
    explicit EditorParts (juce::Component& editor)
    {
        tabBar = find<juce::TabbedButtonBar> (editor, 0, 0);
        meterPage = find<juce::ImageComponent> (editor, 0, 30);

        // The Settings page is added before the Statistics page.
        if (editor.getNumChildComponents() == 4)
        {
            settingsPage = editor.getChildComponent (2);
            statisticsPage = editor.getChildComponent (3);
        }

        if (meterPage != nullptr)
        {
            time = find<juce::Label> (*meterPage, 154, 285);
            mode = find<juce::Label> (*meterPage, 154, 248);
            meterUnit = find<juce::Label> (*meterPage, 13, 408);
            integrated = find<juce::Label> (*meterPage, 154, 75);
            shortTerm = find<juce::Label> (*meterPage, 154, 135);
            range = find<juce::Label> (*meterPage, 154, 195);
            scale18 = find<juce::Label> (*meterPage, 130, 390);
            scale9 = find<juce::Label> (*meterPage, 210, 390);
            truePeakButton = find<juce::Button> (*meterPage, 210, 37);
            playButton = find<juce::Button> (*meterPage, 154, 330);
            resetButton = find<juce::Button> (*meterPage, 154, 369);
            scaleButton = find<juce::Button> (*meterPage, 170, 410);
            bar = find<TarnJuceVU> (*meterPage, 58, 41);
            arrow = find<TarnJuceArrowVU> (*meterPage, 126, 41);
            band = find<TarnJuceLRVU> (*meterPage, 110, 41);
        }

        if (statisticsPage != nullptr)
            for (int i = 0; i < 4; ++i)
                if (auto* unit = find<juce::Label> (*statisticsPage, 190, 15 + 30 * i))
                    for (auto* child : statisticsPage->getChildren())
                        if (auto* label = dynamic_cast<juce::Label*> (child); label != nullptr && label->getAttachedComponent() == unit)
                            statistics[i] = label;

        if (settingsPage != nullptr)
        {
            modeList = find<juce::ComboBox> (*settingsPage, 15, 40);
            limitList = find<juce::ComboBox> (*settingsPage, 15, 85);
        }
    }

    /** True when every part was where the layout puts it. */
    bool complete() const
    {
        return missing == 0 && settingsPage != nullptr
            && std::find (std::begin (statistics), std::end (statistics), nullptr) == std::end (statistics);
    }

    static juce::Colour textColour (const juce::Label* label)
    {
        return label->findColour (juce::Label::textColourId);
    }

    juce::TabbedButtonBar* tabBar = nullptr;
    juce::ImageComponent* meterPage = nullptr;
    juce::Component* settingsPage = nullptr;
    juce::Component* statisticsPage = nullptr;
    juce::Label *time = nullptr, *mode = nullptr, *meterUnit = nullptr, *integrated = nullptr,
                *shortTerm = nullptr, *range = nullptr, *scale18 = nullptr, *scale9 = nullptr;
    juce::Button *truePeakButton = nullptr, *playButton = nullptr, *resetButton = nullptr, *scaleButton = nullptr;
    TarnJuceVU* bar = nullptr;
    TarnJuceArrowVU* arrow = nullptr;
    TarnJuceLRVU* band = nullptr;
    /** Program loudness, loudness range, highest short-term, highest momentary. */
    juce::Label* statistics[4] {};
    juce::ComboBox *modeList = nullptr, *limitList = nullptr;

private:
    template <typename Part>
    Part* find (juce::Component& parent, int x, int y)
    {
        for (auto* child : parent.getChildren())
            if (auto* part = dynamic_cast<Part*> (child); part != nullptr && child->getPosition() == juce::Point<int> (x, y))
                return part;

        ++missing;
        return nullptr;
    }

    int missing = 0;
};
