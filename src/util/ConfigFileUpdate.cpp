// Makes sure a key and value configuration file holds key with the expected
// value: matching lines are kept, rewritten or commented out, a missing record
// can be appended, and the file is replaced as a whole.
#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

namespace {

void addCannotOpen(Result* result, const std::string& path) {
    result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9030, 2, path.c_str(),
                                  Constants::localNodeNameOrEmpty().c_str()));
    result->updateStatus(FAILED);
}

bool holdsLineBreak(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace

Result* FixupUtil::refuseInput(Result* result) {
    result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9031));
    result->setStatus(FAILED);
    return result;
}

bool FixupUtil::acceptSingleLineValue(const std::string& source, const std::string* text,
                                      Result* result) {
    if (text == nullptr) return true;
    if (holdsLineBreak(*text)) {
        trace(source,
              "Refusing a value that holds a line break or a NUL byte: it would not stay "
              "on one configuration line");
    } else if (text->size() > kMaxValueBytes) {
        trace(source, "Refusing a value of " + integerToString(static_cast<int>(text->size())) +
                          " bytes: no setting takes more than " +
                          integerToString(static_cast<int>(kMaxValueBytes)));
    } else {
        return true;
    }
    if (result != nullptr) refuseInput(result);
    return false;
}

bool FixupUtil::acceptArgumentWords(const std::string& source,
                                    std::initializer_list<const std::string*> words,
                                    Result* result) {
    for (const std::string* word : words) {
        if (!acceptSingleLineValue(source, word, result)) return false;
        if (word == nullptr || word->empty() || (*word)[0] != '-') continue;
        trace(source, "Refusing the value (" + *word + "): a tool would read it as an option");
        if (result != nullptr) refuseInput(result);
        return false;
    }
    return true;
}

bool FixupUtil::acceptAbsolutePath(const std::string& source, const std::string* path,
                                   Result* result) {
    if (!acceptSingleLineValue(source, path, result)) return false;
    if (path == nullptr || (!path->empty() && (*path)[0] == '/')) return true;
    trace(source, "Refusing the path (" + *path + "): not an absolute path");
    if (result != nullptr) refuseInput(result);
    return false;
}

bool FixupUtil::readConfigFile(const std::string& source, const std::string& path,
                               std::vector<std::string>& lines, Result* result) {
    int e = 0;
    if (!path.empty() && readFileLines(path, lines, e)) return true;
    trace(source, "Could not open file, Failed to read the param value from file " + path);
    addCannotOpen(result, path);
    return false;
}

bool FixupUtil::writeConfigFile(const std::string& source, const std::string& path,
                                const std::vector<std::string>& lines, Result* result) {
    // Lines read from a file never hold a line feed; one that does came from
    // a value and would smuggle in a line of its own.
    for (const std::string& line : lines) {
        if (line.find('\n') != std::string::npos) {
            trace(source, "Refusing to rewrite " + path + ": a line would hold a line break");
            refuseInput(result);
            return false;
        }
    }
    std::string content;
    for (const std::string& line : lines) content += line + "\n";
    int e = 0;
    if (writeFileAtomically(path, content, e)) {
        result->updateStatus(SUCCESSFUL);
        return true;
    }
    trace(source, "Failed to rewrite " + path + ": " + errorNumberToString(e));
    addCannotOpen(result, path);
    return false;
}

Result* FixupUtil::updateEntryInsideConfigFile(const std::string* filePath, const std::string* key,
                                               const std::string* value, std::string delimiter,
                                               bool addIfMissing) {
    static const std::string source = "FixupUtil::updateEntryInsideConfigFile";
    trace(source, "ENTRY", TRACE_FLOW);
    Result* result = new Result();
    const std::string path = filePath ? *filePath : std::string();

    std::vector<std::string> lines;
    const bool usable = key != nullptr && !key->empty() && value != nullptr;
    if (!usable) {
        trace(source, "Could not open file, Failed to read the param value from file " + path);
        addCannotOpen(result, path);
        trace(source, "EXIT", TRACE_FLOW);
        return result;
    }
    if (!acceptSingleLineValue(source, key, result) ||
        !acceptSingleLineValue(source, value, result)) {
        trace(source, "EXIT", TRACE_FLOW);
        return result;
    }
    if (!readConfigFile(source, path, lines, result)) {
        trace(source, "EXIT", TRACE_FLOW);
        return result;
    }

    const bool commentMode = *value == "#" && delimiter == "#";
    bool found = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = lines[i];
        const std::string trimmed = trimWhiteSpaces(line);
        const std::string number = integerToString(static_cast<int>(i));
        trace(source, "Checking line starting with pattern '" + *key + "' at line=" + line,
              TRACE_DETAIL);
        if (!lineStartsWithKey(trimmed, *key, delimiter)) continue;
        trace(source, "Found exact matching line at number: " + number, TRACE_DETAIL);
        found = true;

        if (commentMode) {
            trace(source, "Commenting matching record at line (" + number + "): " + line,
                  TRACE_DETAIL);
            lines[i] = delimiter + trimmed;
            trace(
                source,
                "After Commenting '" + *key + "' value in " + path + " at line became: " + lines[i],
                TRACE_DETAIL);
            result->updateStatus(SUCCESSFUL);
            continue;
        }

        const std::vector<std::string> tokens = splitStringByDelim(trimmed, delimiter);
        std::string current = "0";
        if (tokens.size() >= 2) {
            current = tokens[1];
            trace(source, "Value in config file is (" + current + ")", TRACE_DETAIL);
        }
        if (current == *value) {
            trace(source,
                  "No update required, Current value '" + current +
                      "' is already same as the expected value " + *value,
                  TRACE_DETAIL);
        } else {
            trace(source, "Updating matching record at line (" + number + "): " + line,
                  TRACE_DETAIL);
            lines[i] = trimWhiteSpaces(*key) + delimiter + trimWhiteSpaces(*value);
            trace(source, "After Updating '" + *key + "' value in " + path +
                              " at line became: " + lines[i]);
        }
        result->updateStatus(SUCCESSFUL);
    }

    if (!found && addIfMissing) {
        trace(source, "No existing record found for '" + *key + "' inside specified conf file",
              TRACE_DETAIL);
        const std::string record = trimWhiteSpaces(*key) + delimiter + trimWhiteSpaces(*value);
        trace(source, "Entering new record for '" + *key + "' inside specified file as " + record,
              TRACE_DETAIL);
        lines.push_back("# Recommended value for " + *key);
        lines.push_back(record);
        result->updateStatus(SUCCESSFUL);
    }

    writeConfigFile(source, path, lines, result);
    trace(source, "EXIT", TRACE_FLOW);
    return result;
}

}  // namespace vxl_fixup
