#include <gtest/gtest.h>

#include "editor/Kelt5_1liteAudioProcessorEditor.h"
#include "processor/Kelt5_1liteAudioProcessor.h"

TEST (Editor, HasTheFixedWindowSize)
{
    Kelt5_1liteAudioProcessor p;
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());

    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getWidth(), 249);
    EXPECT_EQ (editor->getHeight(), 502);
    EXPECT_FALSE (editor->isResizable());
    EXPECT_EQ (&editor->processor, &p);
}

TEST (Editor, EachCallGivesANewEditorOnTheSameProcessor)
{
    Kelt5_1liteAudioProcessor p;
    std::unique_ptr<juce::AudioProcessorEditor> first (p.createEditor());
    std::unique_ptr<juce::AudioProcessorEditor> second (p.createEditor());

    EXPECT_NE (first.get(), second.get());
    EXPECT_EQ (&first->processor, &p);
    EXPECT_EQ (&second->processor, &p);
}

TEST (Editor, PaintsInsideAWindow)
{
    Kelt5_1liteAudioProcessor p;
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());

    editor->addToDesktop (0);
    editor->setVisible (true);
    const auto image = editor->createComponentSnapshot (editor->getLocalBounds());
    EXPECT_EQ (image.getWidth(), 249);
    EXPECT_EQ (image.getHeight(), 502);
    EXPECT_EQ (image.getPixelAt (10, 10), juce::Colours::black);
    editor->removeFromDesktop();
}
