#include "xml/XmlText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace vxl_fixup {
namespace {

// True when text is UTF-8 made only of characters an XML 1.0 document may
// carry literally, with none of the delimiters the reader relies on.
bool isSafeXml(const std::string& text, bool attribute) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '<' || c == '>' || (c < 0x20 && c != '\t')) return false;
        if (attribute && (c == '"' || c == '\t')) return false;
        const int n = c >= 0xF8 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : c < 0x80;
        if (n == 0 || i + n > text.size()) return false;
        std::uint32_t cp = c & (0xFF >> (n == 1 ? 1 : n + 1));
        for (int k = 1; k < n; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};  // no overlong forms
        if (cp < smallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
            cp == 0xFFFF) {
            return false;
        }
        i += n;
    }
    return true;
}

TEST(XmlTextTest, DecodesKnownReferencesAndKeepsEveryOtherAmpersand) {
    const std::pair<std::string, std::string> cases[] = {
        {"&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
        {"&#65;&#x42;&#x00043;", "ABC"},
        {"caf&#xE9; &#233;&#x1F600;", "caf\xC3\xA9 \xC3\xA9\xF0\x9F\x98\x80"},
        {"&#xF701;&#xF7FF;&#xF700;&#63232;", std::string("\x01\xFF\0\0", 4)},
        {"&amp &unknown; & &#; &#x; &#0; &#xD800; &#x110000; &#X41; &#65",
         "&amp &unknown; & &#; &#x; &#0; &#xD800; &#x110000; &#X41; &#65"},
        {"&amp;amp;", "&amp;"},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeXmlText(c.first), c.second) << c.first;
}

TEST(XmlTextTest, BytesXmlCannotCarryBecomePrivateUseReferences) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string("a\0b", 3), "a&#xF700;b"},        // control character
        {"\xC0\x80", "&#xF7C0;&#xF780;"},              // overlong
        {"\xED\xA0\x80", "&#xF7ED;&#xF7A0;&#xF780;"},  // surrogate
        {"\xEF\xBF\xBE", "&#xF7EF;&#xF7BF;&#xF7BE;"},  // U+FFFE
        {"caf\xC3\xA9 \x7F", "caf\xC3\xA9 \x7F"},      // valid UTF-8 and DEL kept
    };
    for (const auto& c : cases) EXPECT_EQ(escapeXmlText(c.first), c.second) << c.first;
}

TEST(XmlTextTest, ArbitraryBytesSurviveEscapingAndDecoding) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int i = static_cast<int>(random() % 81); i > 0; --i) {
            text += static_cast<char>(random() & 0xFF);
        }
        // Text already written with references must survive too.
        if (round % 3 == 0) text += "&#xF741;&amp;&#10;";
        const std::string asText = escapeXmlText(text);
        const std::string asAttribute = escapeXmlAttribute(text);
        ASSERT_TRUE(isSafeXml(asText, false)) << asText;
        ASSERT_TRUE(isSafeXml(asAttribute, true)) << asAttribute;
        ASSERT_EQ(decodeXmlText(asText), text);
        ASSERT_EQ(decodeXmlText(asAttribute), text);
    }
}

}  // namespace
}  // namespace vxl_fixup
