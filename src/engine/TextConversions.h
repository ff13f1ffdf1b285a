// Text conversions used when composing messages, trace lines and paths.
#pragma once

#include <string>

namespace vxl_fixup {

// Decimal text as printf "%d" writes it.
std::string integerToString(const int& n);
// "true" or "false".
std::string boolToString(bool b);
// The system's message text for an error number; never null.
const char* errorNumberToString(const int& e);
// Copies with every byte upper- or lower-cased (C locale), as identifiers,
// script types and node names are compared.
std::string upperCaseCopy(const std::string& text);
std::string lowerCaseCopy(const std::string& text);
// Whether text begins or ends with the given part (an empty part: true).
bool startsWith(const std::string& text, const std::string& prefix);
bool endsWith(const std::string& text, const std::string& suffix);
// "/" (a new string each call).
std::string getFilePathSeparator();

}  // namespace vxl_fixup
