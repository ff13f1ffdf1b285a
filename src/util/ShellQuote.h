// The one way to put a text on a shell command line. Every text that comes
// from a fix-up document, a command's output or the node passes through here.
#pragma once

#include <string>

namespace vxl_fixup {

// A text made only of A-Z a-z 0-9 _ @ % + = : , . / - comes back unchanged;
// any other text (the empty text included) is wrapped in single quotes, each
// embedded single quote written as '\''.
std::string shellQuote(const std::string& text);

// For a text placed inside double quotes that the caller writes itself
// (KEY="VALUE"): backslash-escapes ", $, backtick and backslash.
std::string shellQuoteInDoubleQuotes(const std::string& text);

}  // namespace vxl_fixup
