// The one translation between tree texts and written document text.
//
// Writing: "&", "<" and ">" become "&amp;", "&lt;", "&gt;"; in attribute
// values also '"' becomes "&quot;" and a tab "&#9;"; a line feed and a carriage
// return become "&#10;" and "&#13;". Bytes that an XML document cannot carry at
// all (NUL and the other control characters, bytes outside well-formed UTF-8,
// the non-characters U+FFFE and U+FFFF) are written one by one as "&#xF7HH;",
// HH being the byte in hex: a private-use character, so the document stays
// well-formed for any XML reader, and this library's reader turns it back into
// the byte. Any text, arbitrary bytes included, therefore reads back unchanged.
//
// Reading: "&amp;", "&lt;", "&gt;", "&quot;", "&apos;" and numeric character
// references ("&#NN;", "&#xHH;") are decoded; a reference to U+F700..U+F7FF
// gives the byte it stands for, other references the UTF-8 of the character.
// Any other "&" (including references to NUL, surrogates or beyond U+10FFFF)
// is kept as it stands.
#pragma once

#include <string>

namespace vxl_fixup {

std::string escapeXmlText(const std::string& text);
std::string escapeXmlAttribute(const std::string& text);
// The same, appended to out (the serialiser writes a whole document this way).
void appendEscapedXmlText(std::string& out, const std::string& text);
void appendEscapedXmlAttribute(std::string& out, const std::string& text);
std::string decodeXmlText(const std::string& text);

}  // namespace vxl_fixup
