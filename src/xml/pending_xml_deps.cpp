// Stand-ins for the string and file utilities of the facade that the document
// layers need, until the utility implementation lands and replaces this file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <cstdlib>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

namespace {
bool detailTraced() { return Trace::getTraceLevel() <= TRACE_DETAIL; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::string FixupUtil::trimWhiteSpaces(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> FixupUtil::splitStringBySpaces(const std::string& text,
                                                        bool honourQuotes) {
    static const std::string source = "FixupUtil::splitStringBySpaces";
    const std::string work = trimWhiteSpaces(text);
    const bool traced = detailTraced();
    if (traced) trace(source, "Splitting :" + work + " for white spaces", TRACE_DETAIL);
    std::vector<std::string> words;
    size_t pos = 0;
    for (;;) {
        while (pos < work.size() && isBlank(work[pos])) ++pos;
        if (traced) trace(source, "Splitting (" + work.substr(pos) + ")", TRACE_DETAIL);
        const size_t separator = work.find_first_of(" \t", pos);
        if (separator == std::string::npos || pos >= work.size()) {
            if (traced) trace(source, "Adding Token(" + work.substr(pos) + ")", TRACE_DETAIL);
            words.push_back(work.substr(pos));
            return words;
        }
        const size_t open = work.find('"', pos);
        const size_t close = open == std::string::npos ? open : work.find('"', open + 1);
        size_t end = separator;
        if (honourQuotes && close != std::string::npos && open < separator && separator < close) {
            end = close + 1;
        }
        words.push_back(work.substr(pos, end - pos));
        if (traced) trace(source, "Adding Token(" + words.back() + ")", TRACE_DETAIL);
        pos = end;
    }
}

std::vector<std::string> FixupUtil::splitStringByDelim(const std::string& text,
                                                       const std::string& delimiter) {
    static const std::string source = "FixupUtil::splitStringByDelim";
    if (trimWhiteSpaces(delimiter).empty()) return splitStringBySpaces(text, false);
    const std::string work = trimWhiteSpaces(text);
    const bool traced = detailTraced();
    if (traced) {
        trace(source, "Splitting :" + work + " for delimiter (" + delimiter + ")", TRACE_DETAIL);
    }
    std::vector<std::string> tokens;
    size_t pos = 0;
    for (size_t at = work.find(delimiter); at != std::string::npos;
         at = work.find(delimiter, pos)) {
        tokens.push_back(work.substr(pos, at - pos));
        if (traced) trace(source, "Added token :" + tokens.back(), TRACE_DETAIL);
        pos = at + delimiter.size();
    }
    const std::string rest = work.substr(pos);
    if (!trimWhiteSpaces(rest).empty()) {
        tokens.push_back(rest);
        if (traced) trace(source, "No delimiter found, Added input as token :" + rest, TRACE_DETAIL);
    }
    if (traced) {
        trace(source, "Returning list of size:" + integerToString(static_cast<int>(tokens.size())),
              TRACE_DETAIL);
    }
    return tokens;
}

bool FixupUtil::hostNamesMatch(std::string name1, std::string name2) {
    static const std::string source = "FixupUtil::compareHostnames";
    trace(source, "hostName1 = " + name1, TRACE_DETAIL);
    trace(source, "hostName2 = " + name2, TRACE_DETAIL);
    const std::string a = name1.substr(0, name1.find('.'));
    const std::string b = name2.substr(0, name2.find('.'));
    if (a.size() != b.size()) {
        trace(source, "Lengths DONOT match", TRACE_DETAIL);
        return false;
    }
    trace(source, "Lengths MATCH", TRACE_DETAIL);
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            trace(source, "Returning FALSE", TRACE_DETAIL);
            return false;
        }
    }
    trace(source, "Returning TRUE", TRACE_DETAIL);
    return true;
}

bool FixupUtil::checkDirectoryExistence(const std::string* path) {
    static const std::string source = "sFixupUtil::checkDirectoryExistence";
    if (path == nullptr) return false;
    trace(source, "Checking existence of directory " + *path);
    struct stat st {};
    if (::stat(path->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        trace(source, *path + " exists");
        return true;
    }
    trace(source, *path + " not found");
    return false;
}

bool FixupUtil::createDirectory(const std::string* path, const std::string& mode,
                                Result* result) {
    Result scratch;
    if (result == nullptr) result = &scratch;
    if (path == nullptr || path->empty()) {
        result->updateStatus(FAILED);
        return false;
    }
    trace("FixupUtil::createDirectory", "Creating directory " + *path);
    if (checkDirectoryExistence(path)) {
        result->updateStatus(SUCCESSFUL);
        return true;
    }
    if (::mkdir(path->c_str(), 0700) != 0 && errno != EEXIST) {
        const int e = errno;
        result->addError(new NLSError(NLS_FACILITY_VXLF, true, 9077, 3, path->c_str(),
                                      Constants::localNodeNameOrEmpty().c_str(),
                                      errorNumberToString(e)));
        result->updateStatus(FAILED);
        return false;
    }
    char* end = nullptr;
    const long bits = std::strtol(mode.c_str(), &end, 8);
    if (mode.empty() || *end != '\0' || ::chmod(path->c_str(), static_cast<mode_t>(bits)) != 0) {
        result->updateStatus(FAILED);
        return false;
    }
    result->updateStatus(SUCCESSFUL);
    return true;
}

void FixupUtil::deleteFileIfExists(const std::string* path) {
    if (path == nullptr) return;
    trace("sFixupUtil::deleteFileIfExists", "Deleting file " + *path, TRACE_DETAIL);
    ::unlink(path->c_str());
}

}  // namespace vxl_fixup
