#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {
bool isPlain(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '@' || c == '%' || c == '+' || c == '=' || c == ':' || c == ',' ||
           c == '.' || c == '/' || c == '-';
}
}  // namespace

std::string shellQuote(const std::string& text) {
    bool plain = !text.empty();
    for (char c : text) {
        if (!isPlain(c)) {
            plain = false;
            break;
        }
    }
    if (plain) return text;
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

std::string shellQuoteInDoubleQuotes(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '"' || c == '$' || c == '`' || c == '\\') escaped.push_back('\\');
        escaped.push_back(c);
    }
    return escaped;
}

}  // namespace vxl_fixup
