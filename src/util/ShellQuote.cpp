#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {
bool isPlain(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '@' || c == '%' || c == '+' || c == '=' || c == ':' || c == ',' || c == '.' ||
           c == '/' || c == '-';
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

bool splitShellWords(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size();) {
        const char c = line[i];
        if (c == ' ') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (isPlain(c)) {
            word.push_back(c);
            ++i;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string::npos) return false;
            word.append(line, i + 1, close - i - 1);
            i = close + 1;
        } else if (c == '\\' && i + 1 < line.size() && line[i + 1] == '\'') {
            word.push_back('\'');
            i += 2;
        } else if (c == '"') {
            for (++i;; ++i) {
                if (i >= line.size()) return false;
                const char d = line[i];
                if (d == '"') break;
                if (d == '$' || d == '`') return false;
                if (d == '\\') {
                    const char next = i + 1 < line.size() ? line[i + 1] : '\0';
                    if (next != '"' && next != '$' && next != '`' && next != '\\') return false;
                    ++i;
                }
                word.push_back(line[i]);
            }
            ++i;
        } else {
            return false;
        }
    }
    if (inWord) words.push_back(word);
    return true;
}

}  // namespace vxl_fixup
