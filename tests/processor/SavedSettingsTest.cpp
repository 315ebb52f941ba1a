#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    using Bytes = std::vector<juce::uint8>;

    /** The framework's binary XML block around a text: magic, length word
        (the text's unless given), the text and, unless left out, a zero. */
    Bytes makeBlock (const std::string& text, juce::int64 lengthWord = -1, bool finalZero = true)
    {
        const auto length = (juce::uint32) (lengthWord < 0 ? (juce::int64) text.size() : lengthWord);
        Bytes bytes { 0x56, 0x43, 0x32, 0x21, (juce::uint8) length, (juce::uint8) (length >> 8), (juce::uint8) (length >> 16), (juce::uint8) (length >> 24) };
        bytes.insert (bytes.end(), text.begin(), text.end());

        if (finalZero)
            bytes.push_back (0);

        return bytes;
    }

    std::string element (const std::string& scale) { return "<MYPLUGINSETTINGS measurementScale=\"" + scale + "\"/>"; }

    Bytes saved (Kelt5_1liteAudioProcessor& p, float scale)
    {
        p.measurementScale = scale;
        juce::MemoryBlock block (500, true); // whatever it held before is replaced
        block.fillWith (0xab);
        p.getStateInformation (block);
        return { (const juce::uint8*) block.getData(), (const juce::uint8*) block.getData() + block.getSize() };
    }

    /** The scale after restoring the first size bytes into a processor on 13.5. */
    float restored (Kelt5_1liteAudioProcessor& p, const Bytes& bytes, int size = -2)
    {
        p.measurementScale = 13.5f;
        p.setStateInformation (bytes.data(), size == -2 ? (int) bytes.size() : size);
        return p.measurementScale.load();
    }

}

TEST (SavedSettings, HoldTheScaleAloneGiveItBackExactlyAndRefuseWhatTheFrameworkCannotRead)
{
    Kelt5_1liteAudioProcessor p, target;

    EXPECT_EQ (saved (p, 18.0f), makeBlock (element ("18")));
    EXPECT_EQ (saved (p, 9.9f), makeBlock (element ("9.8999996185302734375")));
    EXPECT_EQ (saved (p, 1.0e-5f), makeBlock (element ("9.9999997473787516356e-06")));

    for (const auto scale : { 0.1f, 18.000002f, std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::infinity() })
    {
        const auto back = restored (target, saved (p, scale));
        EXPECT_EQ (std::memcmp (&back, &scale, sizeof (float)), 0) << scale;
    }

    // The other parameters are neither saved nor restored.
    p.setParameter (2, 6.0f / 11.0f);
    p.setParameter (0, 1.0f);
    EXPECT_EQ (restored (p, makeBlock (element ("9"))), 9.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load() + p.hostPlaying.load(), -5.0f);

    // What the framework's reader accepts is read, the rest refused.
    const auto nine = element ("9");
    const auto block9 = makeBlock (nine);

    // The length word may overstate the block, the final zero may be missing,
    // and a zero byte ends the text early.
    for (const auto& accepted : { makeBlock (nine, 1000), makeBlock (nine, -1, false), makeBlock (nine + std::string ("\0<<&junk", 8)),
                                  makeBlock ("<myPluginSettings measurementScale=\"9\"/>") })
        EXPECT_EQ (restored (p, accepted), 9.0f) << std::string (accepted.begin() + 8, accepted.end());

    Bytes wrongMagic { 0x57 };
    wrongMagic.insert (wrongMagic.end(), block9.begin() + 1, block9.end());

    for (const auto& [bytes, size] : std::initializer_list<std::pair<Bytes, int>> { { block9, 8 }, { block9, -1 }, { wrongMagic, -2 }, { makeBlock (nine, 0xffffffff), -2 } })
        EXPECT_EQ (restored (p, bytes, size), 13.5f) << size;

    p.setStateInformation (nullptr, 50);
    EXPECT_EQ (p.measurementScale.load(), 13.5f);

    std::string nested = "<MYPLUGINSETTINGS measurementScale=\"9\">";

    for (int i = 0; i < 100000; ++i)
        nested += "<a>";

    for (const auto& refused : { nine + "<!--" + std::string (1025 - nine.size() - 7, '-') + "-->", nested, std::string ("<MYPLUGINSETTINGS measurementScale=\"9\">"),
                                 // what would make the framework's parser recurse without end or read past the text
                                 std::string ("<!DOCTYPE x [<!ENTITY a \"&&a;\">]><MYPLUGINSETTINGS measurementScale=\"&a;\"/>"),
                                 std::string ("<MYPLUGINSETTINGS measurementScale=\"&#X3a"), nine + "\xed\xa0\x80" })
        EXPECT_EQ (restored (p, makeBlock (refused)), 13.5f) << refused.substr (0, 80);

    // Any number is taken as the framework reads it.
    const auto inf = std::numeric_limits<float>::infinity();

    for (const auto& [number, scale] : std::initializer_list<std::pair<std::string, float>> {
             { " 12abc", 12.0f }, { "-2.5e1", -25.0f }, { "abc", 0.0f }, { "1e300", inf }, { "-1E+0000000000004294967297", -inf }, { "9&#xE0000000;e99999999999", 9.0f } })
        EXPECT_EQ (restored (p, makeBlock (element (number))), scale) << number;
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
