#include "engine/TextConversions.h"

#include <cstring>

namespace vxl_fixup {

std::string integerToString(const int& n) { return std::to_string(n); }

std::string boolToString(bool b) { return b ? "true" : "false"; }

const char* errorNumberToString(const int& e) { return std::strerror(e); }

std::string getFilePathSeparator() { return "/"; }

}  // namespace vxl_fixup
