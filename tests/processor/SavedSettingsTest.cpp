#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"
#include "processor/SavedSettings.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <locale>
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

    Bytes saved (float scale)
    {
        juce::MemoryBlock block (500, true); // whatever it held before is replaced
        block.fillWith (0xab);
        SavedSettings::write (scale, block);
        return { (const juce::uint8*) block.getData(), (const juce::uint8*) block.getData() + block.getSize() };
    }

    /** The scale read from the first size bytes, or 13.5 when they are refused. */
    float restored (const Bytes& bytes, int size = -2)
    {
        return SavedSettings::read (bytes.data(), size == -2 ? (int) bytes.size() : size).value_or (13.5f);
    }

    /** A number format with a decimal comma, as some host locales have. */
    struct CommaDecimals final : std::numpunct<char>
    {
        char do_decimal_point() const override { return ','; }
    };
}

TEST (SavedSettings, HoldTheScaleAloneAndGiveItBackExactly)
{
    EXPECT_EQ (saved (18.0f), makeBlock (element ("18")));
    EXPECT_EQ (saved (9.0f), makeBlock (element ("9")));
    EXPECT_EQ (saved (9.9f), makeBlock (element ("9.8999996185302734375")));
    EXPECT_EQ (saved (1.0e-5f), makeBlock (element ("9.9999997473787516356e-06")));

    // The host's locale does not turn the full stop into a comma.
    const auto previous = std::locale::global (std::locale (std::locale::classic(), new CommaDecimals));
    const auto withComma = saved (13.5f);
    std::locale::global (previous);
    EXPECT_EQ (withComma, makeBlock (element ("13.5")));

    std::vector<float> scales { 0.0f, std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max(),
                                -std::numeric_limits<float>::infinity() };
    juce::Random random (7);

    for (int i = 0; i < 2000; ++i)
    {
        const auto bits = (juce::uint32) random.nextInt();
        std::memcpy (&scales.emplace_back(), &bits, sizeof (float));
    }

    for (const auto scale : scales)
    {
        const auto back = restored (saved (scale));
        EXPECT_TRUE (std::isnan (scale) ? std::isnan (back) : std::memcmp (&back, &scale, sizeof (float)) == 0) << scale;
    }

    // The processor saves and restores through them, and the other
    // parameters are neither saved nor restored; a refused block changes nothing.
    Kelt5_1liteAudioProcessor p;
    juce::MemoryBlock state;
    p.measurementScale = 9.9f;
    p.getStateInformation (state);
    EXPECT_EQ (Bytes ((const juce::uint8*) state.getData(), (const juce::uint8*) state.getData() + state.getSize()), saved (9.9f));
    p.measurementScale = 13.5f;
    p.setParameter (2, 6.0f / 11.0f);
    p.setParameter (0, 1.0f);
    p.setStateInformation (state.getData(), (int) state.getSize());
    EXPECT_EQ (p.measurementScale.load(), 9.9f);
    EXPECT_EQ (p.truePeakMaxLevel.load() + p.hostPlaying.load(), -5.0f);
    p.setStateInformation (nullptr, 50);
    EXPECT_EQ (p.measurementScale.load(), 9.9f);
}

TEST (SavedSettings, ReadWhatTheFrameworksReaderAcceptsAndRefuseTheRest)
{
    const auto nine = element ("9");
    const auto block9 = makeBlock (nine);

    // The length word may overstate the block, the final zero may be missing,
    // and a zero byte ends the text early.
    for (const auto& accepted : { makeBlock (nine, 1000), makeBlock (nine, -1, false), makeBlock (nine + "\xc3\xa9", -1, false), makeBlock (nine + std::string ("\0<<&junk", 8)),
                                  makeBlock ("<myPluginSettings measurementScale=\"9\"/>"), makeBlock ("<MYPLUGINSETTINGS measurementScale=\"9\""),
                                  makeBlock ("  <?xml version=\"1.0\"?>\n<!-- saved --><!DOCTYPE MYPLUGINSETTINGS>\n<MYPLUGINSETTINGS "
                                             "a=\"\xc2\x80\xc3\xa9\xed\x9f\xbf\xee\x80\x80\xf0\x9f\x8e\x9a\xf4\x8f\xbf\xbf\" measurementScale=\"9\"><child/></MYPLUGINSETTINGS>"),
                                  makeBlock ("<MYPLUGINSETTINGS measurementScale=\"9\" measurementScale=\"12\"/>"),
                                  makeBlock (nine + "<!--" + std::string (1024 - nine.size() - 7, '-') + "-->") })
        EXPECT_EQ (restored (accepted), 9.0f) << std::string (accepted.begin() + 8, accepted.end());

    Bytes wrongMagic { 0x57 };
    wrongMagic.insert (wrongMagic.end(), block9.begin() + 1, block9.end());

    for (const auto& [bytes, size] : std::initializer_list<std::pair<Bytes, int>> {
             { block9, 8 }, { block9, 7 }, { block9, -1 }, { wrongMagic, -2 }, { makeBlock (nine, 0), -2 }, { makeBlock (nine, 0xffffffff), -2 } })
        EXPECT_EQ (restored (bytes, size), 13.5f) << size;

    std::string nested = "<MYPLUGINSETTINGS measurementScale=\"9\">";

    for (int i = 0; i < 100000; ++i)
        nested += "<a>";

    for (const auto& refused : {
             std::string(), std::string ("hello"), nine + "<!--" + std::string (1025 - nine.size() - 7, '-') + "-->", nested,
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\">"), std::string ("<MYPLUGINSETTINGS measurementScale=9/>"),
             std::string ("<?xml version=\"1.0\"<MYPLUGINSETTINGS measurementScale=\"9\"/>"), std::string ("<MYPLUGINSETTINGSX measurementScale=\"9\"/>"), std::string ("<OTHERSETTINGS measurementScale=\"9\"/>"),
             std::string ("<MYPLUGINSETTINGS MeasurementScale=\"9\"/>"), std::string ("<MYPLUGINSETTINGS/>"),
             // what would make the framework's parser recurse without end, hang or read past the text
             std::string ("<!DOCTYPE x [<!ENTITY a \"&&a;\">]><MYPLUGINSETTINGS measurementScale=\"&a;\"/>"),
             std::string ("<!DOCTYPE x [<!entity a \"9\">]><MYPLUGINSETTINGS measurementScale=\"&a;\"/>"),
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\"><?x?>text</MYPLUGINSETTINGS>"), std::string ("<?xml version=\"1.0\"?><?x?>") + nine,
             std::string ("<MYPLUGINSETTINGS measurementScale=\"&#X3a"),
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\"><r>&<a b=\"&#x1;</r></MYPLUGINSETTINGS>"),
             // UTF-8 that is cut short, stray, overlong, a surrogate or beyond Unicode
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\xc3"), nine + "\xf0\x9f", nine + "\x80", nine + "\xc0\x80",
             "<?xml version=\"1.0\" encoding=\"\xe0\x9f\xbe\"?>" + nine, nine + "\xed\xa0\x80", nine + "\xed\xbf\xbf",
             nine + "\xf4\x90\x80\x80", nine + "\xf8\x88\x80\x80\x80", nine + "\xe2((x" })
        EXPECT_EQ (restored (makeBlock (refused)), 13.5f) << refused.substr (0, 80);

    // Any number is taken as the framework reads it.
    const auto inf = std::numeric_limits<float>::infinity();

    for (const auto& [number, scale] : std::initializer_list<std::pair<std::string, float>> {
             { "12", 12.0f }, { " 12abc", 12.0f }, { "-2.5e1", -25.0f }, { "abc", 0.0f }, { "", 0.0f }, { "&#x39;", 9.0f }, { "1e300", inf }, { "1e99999999999999999999", inf }, { "-1E+0000000000004294967297", -inf }, { "1e4294967297", inf }, { "1e4294967306", inf }, { "2e0000000000000000001", 20.0f }, { "9&#xE0000000;e99999999999", 9.0f } })
        EXPECT_EQ (restored (makeBlock (element (number))), scale) << number;

    const auto tiny = restored (makeBlock (element ("-3e-99999999999999999999")));
    EXPECT_TRUE (tiny == 0.0f && std::signbit (tiny));
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
