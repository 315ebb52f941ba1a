#include "processor/SavedSettings.h"

#include <algorithm>
#include <locale>
#include <sstream>

namespace
{
    /** The framework's binary XML block: magic, text length, text, zero byte. */
    constexpr juce::uint32 settingsMagic = 0x21324356;
    constexpr int settingsHeaderBytes = 8;

    // The element and attribute names are a stored format: every project a
    // host saved holds them. They must never change.
    constexpr auto settingsTag = "MYPLUGINSETTINGS";
    constexpr auto scaleAttribute = "measurementScale";

    /** The text this plug-in writes is well under 100 bytes. Anything much
        longer is not ours, and refusing it keeps the XML parser's recursion
        (one level per nested element) and its rescans of the remaining text
        (one per stray ampersand) small enough for any host thread. */
    constexpr int maxSettingsTextBytes = 1024;

    /** %.20g of the value widened to double, with a full stop whatever locale
        the host has set: enough digits to read back the exact float. */
    juce::String formatScale (float scale)
    {
        std::ostringstream out;
        out.imbue (std::locale::classic());
        out.precision (20);
        out << static_cast<double> (scale);
        return juce::String (juce::CharPointer_UTF8 (out.str().c_str()));
    }

    /** Strict UTF-8: no stray or missing continuation bytes, no overlong
        forms, no surrogates, nothing beyond U+10FFFF. */
    bool isWellFormedUtf8 (const char* begin, const char* end)
    {
        for (auto* p = reinterpret_cast<const juce::uint8*> (begin); p < reinterpret_cast<const juce::uint8*> (end);)
        {
            const auto lead = *p++;

            if (lead < 0x80)
                continue;

            int numExtraBytes = 0;
            juce::uint32 smallest = 0;
            juce::uint32 codePoint = 0;

            if ((lead & 0xe0) == 0xc0)
            {
                numExtraBytes = 1;
                smallest = 0x80;
                codePoint = lead & 0x1fu;
            }
            else if ((lead & 0xf0) == 0xe0)
            {
                numExtraBytes = 2;
                smallest = 0x800;
                codePoint = lead & 0x0fu;
            }
            else if ((lead & 0xf8) == 0xf0)
            {
                numExtraBytes = 3;
                smallest = 0x10000;
                codePoint = lead & 0x07u;
            }
            else
                return false;

            if (reinterpret_cast<const juce::uint8*> (end) - p < numExtraBytes)
                return false;

            for (int i = 0; i < numExtraBytes; ++i, ++p)
            {
                if ((*p & 0xc0) != 0x80)
                    return false;

                codePoint = (codePoint << 6) | (*p & 0x3fu);
            }

            if (codePoint < smallest || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
                return false;
        }

        return true;
    }

    /** Refuses the few kinds of text that JUCE 7's XML parser mishandles. No
        block written by this plug-in is among them. */
    bool isSafeForXmlParser (const juce::String& text)
    {
        // Entities declared in a document type are expanded recursively and
        // without limit: one that refers to itself exhausts the stack.
        if (text.contains ("<!DOCTYPE") && text.containsIgnoreCase ("<!ENTITY"))
            return false;

        // An ampersand right before a tag makes the parser take everything up
        // to the next semicolon as markup of its own, beyond the checks below.
        if (text.contains ("&<"))
            return false;

        // A processing instruction inside an element, followed by text, makes
        // the parser loop forever; only a leading declaration is let through.
        auto afterDeclaration = text.trimStart();

        if (afterDeclaration.startsWith ("<?"))
            afterDeclaration = afterDeclaration.fromFirstOccurrenceOf ("?>", false, false);

        if (afterDeclaration.contains ("<?"))
            return false;

        // A hexadecimal character reference that runs into the end of the text
        // makes the parser step over the terminator and read on.
        const auto withoutHexDigits = text.trimCharactersAtEnd ("0123456789abcdefABCDEF");

        if (text.length() - withoutHexDigits.length() <= 8
            && (withoutHexDigits.endsWith ("&#x") || withoutHexDigits.endsWith ("&#X")))
            return false;

        return true;
    }

    std::unique_ptr<juce::XmlElement> parseSettingsText (const char* begin, const char* end)
    {
        const auto numBytes = static_cast<int> (end - begin);

        // JUCE's strings trust UTF-8 lead bytes when they step through text and
        // assume the shortest form of every character when they copy it, so
        // anything else could carry them past the end of a buffer.
        if (numBytes == 0 || numBytes > maxSettingsTextBytes || ! isWellFormedUtf8 (begin, end))
            return {};

        const juce::String text { juce::CharPointer_UTF8 (begin), juce::CharPointer_UTF8 (end) };

        if (! isSafeForXmlParser (text))
            return {};

        return juce::parseXML (text);
    }

    bool equalsIgnoringAsciiCase (const juce::String& text, const char* ascii)
    {
        const auto upper = [] (juce::juce_wchar c) {
            return c >= 'a' && c <= 'z' ? static_cast<juce::juce_wchar> (c - 'a' + 'A') : c;
        };

        auto p = text.getCharPointer();

        // Stops at the first difference, so p never runs past the end.
        for (; *ascii != 0; ++ascii, ++p)
            if (upper (*p) != upper (static_cast<juce::juce_wchar> (*ascii)))
                return false;

        return p.isEmpty();
    }

    /** Reads a number as juce::String::getDoubleValue does. That reader keeps
        the exponent in an int, which ten or more significant exponent digits
        overflow; nine nines already give infinity or zero for any mantissa
        that fits in a settings text, so the result is the same. */
    double readNumber (const juce::String& text)
    {
        auto utf8 = text.toStdString();

        for (size_t i = 0; i < utf8.size(); ++i)
        {
            if (utf8[i] != 'e' && utf8[i] != 'E')
                continue;

            auto first = i + 1;

            if (first < utf8.size() && (utf8[first] == '+' || utf8[first] == '-'))
                ++first;

            while (first < utf8.size() && utf8[first] == '0')
                ++first;

            auto last = first;

            while (last < utf8.size() && utf8[last] >= '0' && utf8[last] <= '9')
                ++last;

            if (last - first > 9)
                utf8.replace (first, last - first, "999999999");
        }

        // Read in place: a character reference beyond Unicode leaves bytes that
        // a juce::String built from this text would misjudge the size of.
        return juce::CharPointer_UTF8 (utf8.c_str()).getDoubleValue();
    }
}

void SavedSettings::write (float measurementScale, juce::MemoryBlock& destination)
{
    juce::XmlElement xml (settingsTag);
    xml.setAttribute (scaleAttribute, formatScale (measurementScale));

    {
        // Not appending: the stream writes from the start of the block and
        // trims it to what was written when it goes.
        juce::MemoryOutputStream out (destination, false);
        out.writeInt (static_cast<int> (settingsMagic));
        out.writeInt (0);
        xml.writeTo (out, juce::XmlElement::TextFormat().singleLine().withoutHeader());
        out.writeByte (0);
    }

    const auto textLength = juce::ByteOrder::swapIfBigEndian (static_cast<juce::uint32> (destination.getSize())
                                                              - static_cast<juce::uint32> (settingsHeaderBytes + 1));
    destination.copyFrom (&textLength, 4, sizeof (textLength));
}

std::optional<float> SavedSettings::read (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes < settingsHeaderBytes + 1
        || juce::ByteOrder::littleEndianInt (data) != settingsMagic)
        return {};

    const auto declaredLength = static_cast<juce::int32> (juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4)));

    if (declaredLength < 1)
        return {};

    // A length beyond the block reads what the block holds; a zero byte ends
    // the text early.
    const auto* text = static_cast<const char*> (data) + settingsHeaderBytes;
    const auto* end = std::find (text, text + std::min (sizeInBytes - settingsHeaderBytes, declaredLength), '\0');

    const auto xml = parseSettingsText (text, end);

    if (xml == nullptr || ! equalsIgnoringAsciiCase (xml->getTagName(), settingsTag)
        || ! xml->hasAttribute (scaleAttribute))
        return {};

    return static_cast<float> (readNumber (xml->getStringAttribute (scaleAttribute)));
}
