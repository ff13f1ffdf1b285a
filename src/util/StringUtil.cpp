// Text utilities of the facade: trimming, splitting into words or tokens,
// matching lines against key words, and host-name comparison.
#include <cctype>

#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

const char* const BLANKS = " \t";

}  // namespace

std::string FixupUtil::trimWhiteSpaces(const std::string& text) {
    const size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(BLANKS);
    return text.substr(first, last - first + 1);
}

std::vector<std::string> FixupUtil::splitStringBySpaces(const std::string& text,
                                                        bool honourQuotes) {
    static const std::string source = "FixupUtil::splitStringBySpaces";
    const bool traced = Trace::writes(TRACE_DETAIL);
    std::vector<std::string> words;
    const std::string work = trimWhiteSpaces(text);
    if (traced) Trace::trace(source, "Splitting :" + work + " for white spaces", TRACE_DETAIL);
    // Positions into the trimmed text rather than cutting words off its front:
    // the document reader splits every line of a document here.
    size_t start = 0;
    for (;;) {
        while (start < work.size() && isBlank(work[start])) ++start;
        if (traced) Trace::trace(source, "Splitting (" + work.substr(start) + ")", TRACE_DETAIL);
        const size_t separator = work.find_first_of(BLANKS, start);
        if (separator == std::string::npos || start == work.size()) {
            if (traced)
                Trace::trace(source, "Adding Token(" + work.substr(start) + ")", TRACE_DETAIL);
            words.push_back(work.substr(start));
            break;
        }
        const size_t open = work.find('"', start);
        const size_t close = open == std::string::npos ? open : work.find('"', open + 1);
        size_t end = separator;  // where the word ends and the rest begins
        if (honourQuotes && close != std::string::npos && open < separator && separator < close) {
            end = close + 1;
        }
        words.push_back(work.substr(start, end - start));
        if (traced) Trace::trace(source, "Adding Token(" + words.back() + ")", TRACE_DETAIL);
        start = end;
    }
    return words;
}

std::vector<std::string> FixupUtil::splitStringByDelim(const std::string& text,
                                                       const std::string& delimiter) {
    static const std::string source = "FixupUtil::splitStringByDelim";
    if (trimWhiteSpaces(delimiter).empty()) return splitStringBySpaces(text, false);
    const bool traced = Trace::writes(TRACE_DETAIL);
    std::vector<std::string> tokens;
    std::string work = trimWhiteSpaces(text);
    if (traced) {
        Trace::trace(source, "Splitting :" + work + " for delimiter (" + delimiter + ")",
                     TRACE_DETAIL);
    }
    size_t at;
    while ((at = work.find(delimiter)) != std::string::npos) {
        const std::string token = work.substr(0, at);
        tokens.push_back(token);
        if (traced) Trace::trace(source, "Added token :" + token, TRACE_DETAIL);
        work.erase(0, at + delimiter.size());
    }
    if (!trimWhiteSpaces(work).empty()) {
        tokens.push_back(work);
        if (traced) {
            Trace::trace(source, "No delimiter found, Added input as token :" + work, TRACE_DETAIL);
        }
    }
    if (traced) {
        Trace::trace(source,
                     "Returning list of size:" + integerToString(static_cast<int>(tokens.size())),
                     TRACE_DETAIL);
    }
    return tokens;
}

bool FixupUtil::getMatchingLine(std::vector<std::string> lines,
                                std::vector<const std::string*> keys, int& index) {
    return getMatchingLine(std::move(lines), 0, std::move(keys), index);
}

bool FixupUtil::getMatchingLine(std::vector<std::string> lines, int start,
                                std::vector<const std::string*> keys, int& index) {
    for (size_t i = start < 0 ? 0 : static_cast<size_t>(start); i < lines.size(); ++i) {
        const std::vector<std::string> words = splitStringByDelim(lines[i], " ");
        if (words.size() < keys.size()) continue;
        bool matches = true;
        for (size_t k = 0; k < keys.size() && matches; ++k) {
            matches = keys[k] != nullptr && words[k] == *keys[k];
        }
        if (matches) {
            index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

bool FixupUtil::hasMatchingLineInFile(const std::string* path, std::vector<const std::string*> keys,
                                      int& index) {
    std::vector<std::string> lines;
    int e = 0;
    if (path == nullptr || path->empty() || !readFileLines(*path, lines, e)) {
        Trace::trace("FixupUtil::hasMatchingLineInFile",
                     "Could not open file, Failed to read the param value from file " +
                         (path ? *path : std::string()));
        return false;
    }
    return getMatchingLine(lines, 0, std::move(keys), index);
}

int FixupUtil::searchLineInCollection(std::vector<std::string> lines, const std::string& text) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == text) return static_cast<int>(i);
    }
    return -1;
}

NameValuePair* FixupUtil::searchByKeyName(std::vector<NameValuePair*> pairs,
                                          const std::string* key) {
    if (key == nullptr) return nullptr;
    for (NameValuePair* pair : pairs) {
        if (pair != nullptr && pair->name != nullptr && *pair->name == *key) return pair;
    }
    return nullptr;
}

bool FixupUtil::hostNamesMatch(std::string name1, std::string name2) {
    static const std::string source = "FixupUtil::compareHostnames";
    Trace::trace(source, "hostName1 = " + name1, TRACE_DETAIL);
    Trace::trace(source, "hostName2 = " + name2, TRACE_DETAIL);
    const std::string short1 = name1.substr(0, name1.find('.'));
    const std::string short2 = name2.substr(0, name2.find('.'));
    if (short1.size() != short2.size()) {
        Trace::trace(source, "Lengths DONOT match", TRACE_DETAIL);
        return false;
    }
    Trace::trace(source, "Lengths MATCH", TRACE_DETAIL);
    for (size_t i = 0; i < short1.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(short1[i])) !=
            std::toupper(static_cast<unsigned char>(short2[i]))) {
            Trace::trace(source, "Returning FALSE", TRACE_DETAIL);
            return false;
        }
    }
    Trace::trace(source, "Returning TRUE", TRACE_DETAIL);
    return true;
}

bool FixupUtil::lineStartsWithKey(const std::string& trimmedLine, const std::string& key,
                                  const std::string& delimiter) {
    if (key.empty() || trimmedLine.compare(0, key.size(), key) != 0) return false;
    if (trimmedLine.size() == key.size()) return true;
    const char next = trimmedLine[key.size()];
    if (isBlank(next) || next == '=' || next == ':') return true;
    return !delimiter.empty() && trimmedLine.compare(key.size(), delimiter.size(), delimiter) == 0;
}

}  // namespace vxl_fixup
