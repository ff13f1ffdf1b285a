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
        if (c < 0x80) {
            if (c == '<' || c == '>' || c == '\n' || c == '\r') return false;
            if (c < 0x20 && c != '\t') return false;
            if (attribute && (c == '"' || c == '\t')) return false;
            ++i;
            continue;
        }
        const int n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        if (n == 0 || i + n > text.size()) return false;
        std::uint32_t cp = c & (0xFF >> (n + 1));
        for (int k = 1; k < n; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < smallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
            cp == 0xFFFE || cp == 0xFFFF) {
            return false;
        }
        i += n;
    }
    return true;
}

TEST(XmlTextTest, DecodesKnownReferencesAndKeepsEveryOtherAmpersand) {
    const std::pair<const char*, const char*> cases[] = {
        {"&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
        {"&#65;&#x42;&#x00043;", "ABC"},
        {"caf&#xE9; &#233;", "caf\xC3\xA9 \xC3\xA9"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        {"&#xF701;&#xF7FF;", "\x01\xFF"},
        {"&amp &unknown; & &#; &#x; &#0; &#xD800; &#x110000; &#X41; &#65", nullptr},
        {"&amp;amp;", "&amp;"},
    };
    for (const auto& c : cases) {
        const std::string expected = c.second ? c.second : c.first;
        EXPECT_EQ(decodeXmlText(c.first), expected) << c.first;
    }
    EXPECT_EQ(decodeXmlText("&#xF700;&#63232;"), std::string(2, '\0'));
}

TEST(XmlTextTest, BytesXmlCannotCarryBecomePrivateUseReferences) {
    EXPECT_EQ(escapeXmlText(std::string("a\0b", 3)), "a&#xF700;b");
    EXPECT_EQ(escapeXmlText("\x1B[0m"), "&#xF71B;[0m");
    EXPECT_EQ(escapeXmlText("\xFF\xC3"), "&#xF7FF;&#xF7C3;");
    EXPECT_EQ(escapeXmlText("\xC0\x80"), "&#xF7C0;&#xF780;");            // overlong
    EXPECT_EQ(escapeXmlText("\xED\xA0\x80"), "&#xF7ED;&#xF7A0;&#xF780;");  // surrogate
    EXPECT_EQ(escapeXmlText("\xEF\xBF\xBE"), "&#xF7EF;&#xF7BF;&#xF7BE;");  // U+FFFE
    EXPECT_EQ(escapeXmlText("caf\xC3\xA9 \x7F"), "caf\xC3\xA9 \x7F");
}

TEST(XmlTextTest, ArbitraryBytesSurviveEscapingAndDecoding) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> length(0, 80);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int n = length(random);
        for (int i = 0; i < n; ++i) text += static_cast<char>(byte(random));
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
