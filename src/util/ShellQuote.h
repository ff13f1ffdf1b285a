// The one way to put a text on a shell command line. Every text that comes
// from a fix-up document, a command's output or the node passes through here.
#pragma once

#include <string>
#include <vector>

namespace vxl_fixup {

// A text made only of A-Z a-z 0-9 _ @ % + = : , . / - comes back unchanged;
// any other text (the empty text included) is wrapped in single quotes, each
// embedded single quote written as '\''.
std::string shellQuote(const std::string& text);

// For a text placed inside double quotes that the caller writes itself
// (KEY="VALUE"): backslash-escapes ", $, backtick and backslash.
std::string shellQuoteInDoubleQuotes(const std::string& text);

// The reverse of the two above, for a whole line: the words the shell makes of
// a line written only with them, that is, words separated by blanks, each
// made of plain characters (those shellQuote leaves alone), single-quoted
// texts, the '\'' form of a quote, and double-quoted texts in which every ",
// $, backtick and backslash is escaped. False when the line holds anything
// else (any other character outside quotes, an unclosed quote, a backslash
// the helpers do not write), that is, whenever the shell might read it as
// more than plain words.
bool splitShellWords(const std::string& line, std::vector<std::string>& words);

}  // namespace vxl_fixup
