#include <gtest/gtest.h>

#include "processor/Kelt5_1liteAudioProcessor.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <locale>
#include <string>
#include <utility>
#include <vector>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace
{
    using Bytes = std::vector<juce::uint8>;

    /** The framework's binary XML block around a text: magic, length word
        (the text's unless given), the text and, unless left out, a zero. */
    Bytes makeBlock (const std::string& text, juce::int64 lengthWord = -1, bool finalZero = true)
    {
        const auto length = static_cast<juce::uint32> (lengthWord < 0 ? (juce::int64) text.size() : lengthWord);
        Bytes bytes { 0x56, 0x43, 0x32, 0x21 };

        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back (static_cast<juce::uint8> (length >> shift));

        bytes.insert (bytes.end(), text.begin(), text.end());

        if (finalZero)
            bytes.push_back (0);

        return bytes;
    }

    std::string element (const std::string& scale)
    {
        return "<MYPLUGINSETTINGS measurementScale=\"" + scale + "\"/>";
    }

    Bytes saved (float scale)
    {
        Kelt5_1liteAudioProcessor p;
        p.measurementScale = scale;
        juce::MemoryBlock block (500, true);   // whatever it held before is replaced
        block.fillWith (0xab);
        p.getStateInformation (block);
        const auto* data = static_cast<const juce::uint8*> (block.getData());
        return { data, data + block.getSize() };
    }

    /** The scale after restoring the first size bytes into a processor on 13.5. */
    float restored (const Bytes& bytes, int size = -2)
    {
        Kelt5_1liteAudioProcessor p;
        p.measurementScale = 13.5f;
        p.setStateInformation (bytes.data(), size == -2 ? (int) bytes.size() : size);
        return p.measurementScale.load();
    }

    /** A number format with a decimal comma, as some host locales have. */
    struct CommaDecimals final : std::numpunct<char>
    {
        char do_decimal_point() const override { return ','; }
    };
}

TEST (SavedSettings, WritesTheScaleAloneInTheFrameworksBlock)
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

    // Only the scale is saved or restored; the other parameters stay.
    Kelt5_1liteAudioProcessor p;
    p.setParameter (2, 6.0f / 11.0f);
    p.setParameter (0, 1.0f);
    const auto block9 = makeBlock (element ("9"));
    p.setStateInformation (block9.data(), (int) block9.size());
    EXPECT_EQ (p.measurementScale.load(), 9.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -6.0f);
    EXPECT_EQ (p.hostPlaying.load(), 1.0f);
}

TEST (SavedSettings, EveryScaleComesBackExactly)
{
    std::vector<float> scales { 9.0f, 18.0f, 0.0f, std::numeric_limits<float>::denorm_min(),
                                std::numeric_limits<float>::max(), -std::numeric_limits<float>::infinity() };
    juce::Random random (7);

    for (int i = 0; i < 2000; ++i)
    {
        const auto bits = static_cast<juce::uint32> (random.nextInt());
        float scale;
        std::memcpy (&scale, &bits, sizeof (scale));
        scales.push_back (scale);
    }

    Kelt5_1liteAudioProcessor source, target;

    for (const auto scale : scales)
    {
        source.measurementScale = scale;
        target.measurementScale = 13.5f;
        juce::MemoryBlock block;
        source.getStateInformation (block);
        target.setStateInformation (block.getData(), (int) block.getSize());
        const auto back = target.measurementScale.load();
        EXPECT_TRUE (std::isnan (scale) ? std::isnan (back) : std::memcmp (&back, &scale, sizeof (float)) == 0) << scale;
    }
}

TEST (SavedSettings, ReadsWhatTheFrameworksReaderAcceptsAndNothingElse)
{
    const auto nine = element ("9");
    const auto block9 = makeBlock (nine);

    // The length word may overstate the block, the final zero may be missing,
    // and a zero byte ends the text early.
    for (const auto& accepted : { makeBlock (nine, 1000), makeBlock (nine, -1, false),
                                  makeBlock (nine + std::string ("\0<<&junk", 8)),
                                  makeBlock ("<myPluginSettings measurementScale=\"9\"/>"),
                                  makeBlock ("<MYPLUGINSETTINGS measurementScale=\"9\""),
                                  makeBlock ("  <?xml version=\"1.0\"?>\n<!-- saved --><!DOCTYPE MYPLUGINSETTINGS>\n"
                                             "<MYPLUGINSETTINGS a=\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\x9a\" measurementScale=\"9\">"
                                             "<child/></MYPLUGINSETTINGS>"),
                                  makeBlock ("<MYPLUGINSETTINGS measurementScale=\"9\" measurementScale=\"12\"/>") })
        EXPECT_EQ (restored (accepted), 9.0f) << std::string (accepted.begin() + 8, accepted.end());

    auto wrongMagic = block9;
    wrongMagic[0] = 0x57;
    EXPECT_EQ (restored (block9, 8), 13.5f);
    EXPECT_EQ (restored (block9, -1), 13.5f);
    EXPECT_EQ (restored (wrongMagic), 13.5f);
    EXPECT_EQ (restored (makeBlock (nine, 0)), 13.5f);
    EXPECT_EQ (restored (makeBlock (nine, 0xffffffff)), 13.5f);

    Kelt5_1liteAudioProcessor p;
    p.setStateInformation (nullptr, 50);
    EXPECT_EQ (p.measurementScale.load(), 18.0f);

    std::string nested = "<MYPLUGINSETTINGS measurementScale=\"9\">";

    for (int i = 0; i < 100000; ++i)
        nested += "<a>";

    const auto padded = [&nine] (size_t total) { return nine + "<!--" + std::string (total - nine.size() - 7, '-') + "-->"; };
    EXPECT_EQ (restored (makeBlock (padded (1024))), 9.0f);

    for (const auto& refused : {
             std::string(), std::string ("hello"), padded (1025), nested,
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\">"),
             std::string ("<MYPLUGINSETTINGS measurementScale=9/>"),
             std::string ("<?xml version=\"1.0\"<MYPLUGINSETTINGS measurementScale=\"9\"/>"),
             std::string ("<MYPLUGINSETTINGSX measurementScale=\"9\"/>"),
             std::string ("<MYPLUGINSETTINGS MeasurementScale=\"9\"/>"),
             std::string ("<MYPLUGINSETTINGS/>"),
             // what would make the framework's parser recurse without end, hang or read past the text
             std::string ("<!DOCTYPE x [<!ENTITY a \"&&a;\">]><MYPLUGINSETTINGS measurementScale=\"&a;\"/>"),
             std::string ("<!DOCTYPE x [<!entity a \"9\">]><MYPLUGINSETTINGS measurementScale=\"&a;\"/>"),
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\"><?x?>text</MYPLUGINSETTINGS>"),
             std::string ("<?xml version=\"1.0\"?><?x?>") + nine,
             std::string ("<MYPLUGINSETTINGS measurementScale=\"&#X3a"),
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\"><r>&<a b=\"&#x1;</r></MYPLUGINSETTINGS>"),
             // UTF-8 that is cut short, overlong, a surrogate or beyond Unicode
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\xc3"), nine + "\xf0\x9f", nine + "\x80",
             "<?xml version=\"1.0\" encoding=\"\xe0\x9f\xbe\"?>" + nine, nine + "\xc0\x80", nine + "\xed\xa0\x80",
             nine + "\xf4\x90\x80\x80", nine + "\xf8\x88\x80\x80\x80" })
        EXPECT_EQ (restored (makeBlock (refused)), 13.5f) << refused.substr (0, 80);
}

TEST (SavedSettings, TakesAnyNumberAsTheFrameworkReadsIt)
{
    const auto inf = std::numeric_limits<float>::infinity();

    for (const auto& [number, scale] : std::initializer_list<std::pair<std::string, float>> {
             { "12", 12.0f }, { " 12abc", 12.0f }, { "-2.5e1", -25.0f }, { "abc", 0.0f }, { "", 0.0f },
             { "&#x39;", 9.0f }, { "1e300", inf }, { "1e99999999999999999999", inf },
             { "-1E+0000000000004294967297", -inf }, { "2e0000000000000000001", 20.0f },
             { "9&#xE0000000;e99999999999", 9.0f } })
        EXPECT_EQ (restored (makeBlock (element (number))), scale) << number;

    const auto tiny = restored (makeBlock (element ("-3e-99999999999999999999")));
    EXPECT_TRUE (tiny == 0.0f && std::signbit (tiny));
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
