#include "engine/TextConversions.h"

#include <cctype>
#include <cstring>

namespace vxl_fixup {

std::string integerToString(const int& n) { return std::to_string(n); }

std::string boolToString(bool b) { return b ? "true" : "false"; }

const char* errorNumberToString(const int& e) { return std::strerror(e); }

std::string upperCaseCopy(const std::string& text) {
    std::string copy = text;
    for (char& c : copy) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return copy;
}

std::string lowerCaseCopy(const std::string& text) {
    std::string copy = text;
    for (char& c : copy) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return copy;
}

std::string getFilePathSeparator() { return "/"; }

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace vxl_fixup
