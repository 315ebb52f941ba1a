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

    const Bytes block18 { 0x56, 0x43, 0x32, 0x21, 0x29, 0x00, 0x00, 0x00, 0x3c, 0x4d, 0x59, 0x50, 0x4c, 0x55,
                          0x47, 0x49, 0x4e, 0x53, 0x45, 0x54, 0x54, 0x49, 0x4e, 0x47, 0x53, 0x20, 0x6d, 0x65,
                          0x61, 0x73, 0x75, 0x72, 0x65, 0x6d, 0x65, 0x6e, 0x74, 0x53, 0x63, 0x61, 0x6c, 0x65,
                          0x3d, 0x22, 0x31, 0x38, 0x22, 0x2f, 0x3e, 0x00 };

    const Bytes block9 { 0x56, 0x43, 0x32, 0x21, 0x28, 0x00, 0x00, 0x00, 0x3c, 0x4d, 0x59, 0x50, 0x4c, 0x55,
                         0x47, 0x49, 0x4e, 0x53, 0x45, 0x54, 0x54, 0x49, 0x4e, 0x47, 0x53, 0x20, 0x6d, 0x65,
                         0x61, 0x73, 0x75, 0x72, 0x65, 0x6d, 0x65, 0x6e, 0x74, 0x53, 0x63, 0x61, 0x6c, 0x65,
                         0x3d, 0x22, 0x39, 0x22, 0x2f, 0x3e, 0x00 };

    Bytes toBytes (const juce::MemoryBlock& block)
    {
        const auto* data = static_cast<const juce::uint8*> (block.getData());
        return Bytes (data, data + block.getSize());
    }

    Bytes saveWithScale (float scale)
    {
        Kelt5_1liteAudioProcessor p;
        p.measurementScale = scale;
        juce::MemoryBlock block;
        p.getStateInformation (block);
        return toBytes (block);
    }

    /** A block around any text: the length word is the text's unless given. */
    Bytes makeBlock (const std::string& text, juce::int64 lengthWord = -1, bool finalZero = true)
    {
        const auto length = static_cast<juce::uint32> (lengthWord < 0 ? static_cast<juce::int64> (text.size()) : lengthWord);
        Bytes bytes { 0x56, 0x43, 0x32, 0x21 };

        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back (static_cast<juce::uint8> (length >> shift));

        bytes.insert (bytes.end(), text.begin(), text.end());

        if (finalZero)
            bytes.push_back (0);

        return bytes;
    }

    Bytes elementWith (const std::string& value)
    {
        return makeBlock ("<MYPLUGINSETTINGS measurementScale=\"" + value + "\"/>");
    }

    /** The scale after restoring the first size bytes into a processor that
        held 13.5. */
    float restored (const Bytes& bytes, int size)
    {
        Kelt5_1liteAudioProcessor p;
        p.measurementScale = 13.5f;
        p.setStateInformation (bytes.data(), size);
        return p.measurementScale.load();
    }

    float restored (const Bytes& bytes)
    {
        return restored (bytes, static_cast<int> (bytes.size()));
    }

    std::string textOf (const Bytes& block)
    {
        return std::string (block.begin() + 8, block.end() - 1);
    }

    bool sameBits (float a, float b)
    {
        return std::memcmp (&a, &b, sizeof (float)) == 0;
    }

    /** A number format with a decimal comma, as some host locales have. */
    struct CommaDecimals final : std::numpunct<char>
    {
        char do_decimal_point() const override { return ','; }
    };
}

//==============================================================================
TEST (SavedSettings, WritesTheFrameworksXmlBlockWithoutDeclaration)
{
    EXPECT_EQ (saveWithScale (18.0f), block18);
    EXPECT_EQ (saveWithScale (9.0f), block9);

    const auto half = saveWithScale (13.5f);
    EXPECT_EQ (half.size(), 52u);
    EXPECT_EQ (textOf (half), "<MYPLUGINSETTINGS measurementScale=\"13.5\"/>");

    const auto nearTen = saveWithScale (9.9f);
    EXPECT_EQ (nearTen.size(), 69u);
    EXPECT_EQ (nearTen[4], 60);
    EXPECT_EQ (textOf (nearTen), "<MYPLUGINSETTINGS measurementScale=\"9.8999996185302734375\"/>");

    EXPECT_EQ (textOf (saveWithScale (1.0e-5f)), "<MYPLUGINSETTINGS measurementScale=\"9.9999997473787516356e-06\"/>");

    // The host's locale does not turn the full stop into a comma.
    const auto previous = std::locale::global (std::locale (std::locale::classic(), new CommaDecimals));
    const auto withComma = saveWithScale (13.5f);
    std::locale::global (previous);
    EXPECT_EQ (withComma, half);

    // Whatever the block held before is replaced.
    Kelt5_1liteAudioProcessor p;
    juce::MemoryBlock block;
    block.setSize (500);
    block.fillWith (0xab);
    p.getStateInformation (block);
    EXPECT_EQ (toBytes (block), block18);
}

TEST (SavedSettings, EveryScaleComesBackExactly)
{
    std::vector<float> scales { 9.0f, 18.0f, 13.5f, 9.9f, 0.0f, 1.0e-5f, std::numeric_limits<float>::denorm_min(),
                                std::numeric_limits<float>::max(), -std::numeric_limits<float>::infinity() };

    juce::Random random (7);
    for (int i = 0; i < 2000; ++i)
    {
        const auto bits = static_cast<juce::uint32> (random.nextInt());
        float value;
        std::memcpy (&value, &bits, sizeof (value));
        scales.push_back (value);
    }

    Kelt5_1liteAudioProcessor source, target;

    for (const auto scale : scales)
    {
        source.measurementScale = scale;
        target.measurementScale = 13.5f;
        juce::MemoryBlock block;
        source.getStateInformation (block);
        target.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
        const auto back = target.measurementScale.load();
        EXPECT_TRUE (std::isnan (scale) ? std::isnan (back) : sameBits (back, scale)) << scale;
    }
}

TEST (SavedSettings, DefectiveBlocksLeaveTheScaleAlone)
{
    const auto text = textOf (block9);
    auto wrongMagic = block9;
    wrongMagic[0] = 0x57;

    EXPECT_EQ (restored (block9, 8), 13.5f);
    EXPECT_EQ (restored (block9, -1), 13.5f);
    EXPECT_EQ (restored (wrongMagic), 13.5f);
    EXPECT_EQ (restored (makeBlock (text, 0)), 13.5f);
    EXPECT_EQ (restored (makeBlock (text, 0xffffffff)), 13.5f);     // -1 as a signed length

    for (const auto& broken : { std::string(), std::string ("hello"),
                                std::string ("<MYPLUGINSETTINGS measurementScale=\"9\">"),        // never closed
                                std::string ("<MYPLUGINSETTINGS measurementScale=\"9\"><x></MYPLUGINSETTINGS>"),
                                std::string ("<MYPLUGINSETTINGS measurementScale=9/>"),
                                std::string ("<?xml version=\"1.0\"<MYPLUGINSETTINGS measurementScale=\"9\"/>"),
                                std::string ("<MYPLUGINSETTINGSX measurementScale=\"9\"/>"),
                                std::string ("<MYPLUGINSETTINGS MeasurementScale=\"9\"/>"),
                                std::string ("<MYPLUGINSETTINGS/>"),
                                std::string ("<MYPLUGINSETTINGS measurementScale=\"9\0\"/>", 42) })   // the zero ends the text
        EXPECT_EQ (restored (makeBlock (broken)), 13.5f) << broken;

    Kelt5_1liteAudioProcessor p;
    p.setStateInformation (nullptr, 50);
    EXPECT_EQ (p.measurementScale.load(), 18.0f);
}

TEST (SavedSettings, ReadsWhatTheFrameworksReaderAccepts)
{
    const auto text = textOf (block9);

    // The length word may overstate the block, the final zero may be missing,
    // and a zero byte ends the text before whatever the length word covers.
    EXPECT_EQ (restored (makeBlock (text, 1000)), 9.0f);
    EXPECT_EQ (restored (makeBlock (text, -1, false)), 9.0f);
    EXPECT_EQ (restored (makeBlock (text + std::string ("\0<<&junk", 8))), 9.0f);

    const std::pair<std::string, float> cases[] {
        { "<myPluginSettings measurementScale=\"9\"/>", 9.0f },
        { "<MYPLUGINSETTINGS measurementScale=\"9\"", 9.0f },      // cut short after the value
        { "  <?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- saved --><!DOCTYPE MYPLUGINSETTINGS>\n"
          "<MYPLUGINSETTINGS a=\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\x9a\" measurementScale=\"9\"><child/></MYPLUGINSETTINGS>", 9.0f },
        { "<MYPLUGINSETTINGS measurementScale=\"9\" measurementScale=\"12\"/>", 9.0f },
    };

    for (const auto& [accepted, scale] : cases)
        EXPECT_EQ (restored (makeBlock (accepted)), scale) << accepted;

    // Numbers as the framework reads them, stored without a range check.
    const std::pair<std::string, float> numbers[] {
        { "12", 12.0f }, { " 12abc", 12.0f }, { "-2.5e1", -25.0f }, { "abc", 0.0f }, { "", 0.0f },
        { "&#x39;", 9.0f }, { "1e300", std::numeric_limits<float>::infinity() },
        // Exponents too long for the reader's own arithmetic still saturate.
        { "1e99999999999999999999", std::numeric_limits<float>::infinity() },
        { "-1E+0000000000004294967297", -std::numeric_limits<float>::infinity() },
        { "2e0000000000000000001", 20.0f },
        { "9&#xE0000000;e99999999999", 9.0f },      // a reference beyond Unicode ends the number
    };

    for (const auto& [number, scale] : numbers)
        EXPECT_EQ (restored (elementWith (number)), scale) << number;

    const auto tiny = restored (elementWith ("-3e-99999999999999999999"));
    EXPECT_TRUE (tiny == 0.0f && std::signbit (tiny));
}

TEST (SavedSettings, RefusesTextsThatCouldHarmTheHost)
{
    const auto element = textOf (block9);
    std::string nested = "<MYPLUGINSETTINGS measurementScale=\"9\">";
    for (int i = 0; i < 100000; ++i)
        nested += "<a>";

    for (const auto& harmful : {
             // a self-referring entity recurses until the stack runs out
             std::string ("<!DOCTYPE x [<!ENTITY a \"&&a;\">]><MYPLUGINSETTINGS measurementScale=\"&a;\"/>"),
             std::string ("<!DOCTYPE x [<!entity a \"9\">]><MYPLUGINSETTINGS measurementScale=\"&a;\"/>"),
             // a processing instruction before text inside an element hangs the parser
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\"><?x?>text</MYPLUGINSETTINGS>"),
             std::string ("<?xml version=\"1.0\"?><?x?>") + element,
             // a character reference or broken UTF-8 at the end walks it past the terminator
             std::string ("<MYPLUGINSETTINGS measurementScale=\"&#X3a"),
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\"><r>&<a b=\"&#x1;</r></MYPLUGINSETTINGS>"),
             std::string ("<MYPLUGINSETTINGS measurementScale=\"9\xc3"),
             element + "\xf0\x9f",
             element + "\x80",
             // so does text not in the shortest form when it is copied
             "<?xml version=\"1.0\" encoding=\"\xe0\x9f\xbe\"?>" + element,
             element + "\xc0\x80",
             element + "\xed\xa0\x80",
             element + "\xf4\x90\x80\x80",
             // deep nesting exhausts the stack
             nested })
        EXPECT_EQ (restored (makeBlock (harmful)), 13.5f) << harmful.substr (0, 100);

    // Texts up to 1 KB, far longer than any saved block, are read.
    const auto padded = [&element] (size_t total)
    {
        return element + "<!--" + std::string (total - element.size() - 7, '-') + "-->";
    };
    EXPECT_EQ (restored (makeBlock (padded (1024))), 9.0f);
    EXPECT_EQ (restored (makeBlock (padded (1025))), 13.5f);
}

TEST (SavedSettings, RestoringChangesOnlyTheScale)
{
    Kelt5_1liteAudioProcessor fresh;
    fresh.setStateInformation (block18.data(), static_cast<int> (block18.size()));
    EXPECT_EQ (fresh.measurementScale.load(), 18.0f);
    EXPECT_EQ (fresh.truePeakMaxLevel.load(), -1.0f);
    EXPECT_EQ (fresh.hostPlaying.load(), 0.0f);

    Kelt5_1liteAudioProcessor p;
    p.setParameter (2, 6.0f / 11.0f);
    p.setParameter (0, 1.0f);
    p.setStateInformation (block9.data(), static_cast<int> (block9.size()));
    EXPECT_EQ (p.measurementScale.load(), 9.0f);
    EXPECT_EQ (p.truePeakMaxLevel.load(), -6.0f);
    EXPECT_EQ (p.hostPlaying.load(), 1.0f);

    // Only the scale is saved, whatever the other fields hold.
    juce::MemoryBlock block;
    p.getStateInformation (block);
    EXPECT_EQ (toBytes (block), block9);
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
