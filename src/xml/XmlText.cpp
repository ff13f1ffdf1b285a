#include "xml/XmlText.h"

#include <cstdint>

namespace vxl_fixup {

namespace {

// Private-use block that stands for single raw bytes.
constexpr std::uint32_t RAW_BYTE_BASE = 0xF700;
constexpr std::uint32_t MAX_CODE_POINT = 0x10FFFF;

void appendRawByteReference(std::string& out, unsigned char byte) {
    static const char hex[] = "0123456789ABCDEF";
    out += "&#xF7";
    out += hex[byte >> 4];
    out += hex[byte & 0x0F];
    out += ';';
}

// Length of the well-formed UTF-8 sequence at position i when it encodes a
// character XML allows; 0 otherwise. Only called for bytes >= 0x80.
std::size_t xmlCharacterLength(const std::string& s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t length = 0;
    std::uint32_t cp = 0;
    std::uint32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1Fu;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0Fu;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3Fu);
    }
    if (cp < smallest || cp > MAX_CODE_POINT || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
        cp == 0xFFFF) {
        return 0;
    }
    return length;
}

void appendEscaped(std::string& out, const std::string& text, bool attribute) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = xmlCharacterLength(text, i);
            if (length == 0) {
                appendRawByteReference(out, c);
                ++i;
            } else {
                out.append(text, i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '"':
                if (attribute) {
                    out += "&quot;";
                } else {
                    out += '"';
                }
                break;
            case '\t':
                if (attribute) {
                    out += "&#9;";
                } else {
                    out += '\t';
                }
                break;
            default:
                if (c < 0x20) {
                    appendRawByteReference(out, c);
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int digitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (!hex) return -1;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes the reference starting with the "&" at position i into out and
// returns the position after it, or 0 when there is no reference to decode.
std::size_t decodeReference(const std::string& s, std::size_t i, std::string& out) {
    std::size_t j = i + 1;
    if (j < s.size() && s[j] == '#') {
        ++j;
        const bool hex = j < s.size() && s[j] == 'x';
        if (hex) ++j;
        const std::size_t digitsStart = j;
        std::uint32_t cp = 0;
        bool tooLarge = false;
        for (int d; j < s.size() && (d = digitValue(s[j], hex)) >= 0; ++j) {
            if (!tooLarge) cp = cp * (hex ? 16u : 10u) + static_cast<std::uint32_t>(d);
            if (cp > MAX_CODE_POINT) tooLarge = true;
        }
        if (j == digitsStart || j >= s.size() || s[j] != ';' || tooLarge || cp == 0 ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return 0;
        }
        if (cp >= RAW_BYTE_BASE && cp <= RAW_BYTE_BASE + 0xFF) {
            out += static_cast<char>(cp - RAW_BYTE_BASE);
        } else {
            appendUtf8(out, cp);
        }
        return j + 1;
    }
    static const struct {
        const char* name;
        char character;
    } named[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
    for (const auto& entity : named) {
        if (s.compare(j, std::string::traits_type::length(entity.name), entity.name) == 0) {
            out += entity.character;
            return j + std::string::traits_type::length(entity.name);
        }
    }
    return 0;
}

}  // namespace

std::string escapeXmlText(const std::string& text) {
    std::string out;
    appendEscaped(out, text, false);
    return out;
}

std::string escapeXmlAttribute(const std::string& text) {
    std::string out;
    appendEscaped(out, text, true);
    return out;
}

void appendEscapedXmlText(std::string& out, const std::string& text) {
    appendEscaped(out, text, false);
}

void appendEscapedXmlAttribute(std::string& out, const std::string& text) {
    appendEscaped(out, text, true);
}

std::string decodeXmlText(const std::string& text) {
    std::size_t amp = text.find('&');
    if (amp == std::string::npos) return text;
    std::string out(text, 0, amp);
    for (std::size_t i = amp; i < text.size();) {
        if (text[i] == '&') {
            const std::size_t next = decodeReference(text, i, out);
            if (next != 0) {
                i = next;
                continue;
            }
        }
        out += text[i];
        ++i;
    }
    return out;
}

}  // namespace vxl_fixup
