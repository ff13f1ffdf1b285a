// The static facade every task family calls: command runner, file and text
// utilities, configuration-file update, task identifiers, host-name matching
// and the compact message text. Paths are caller-owned and never freed here.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/Trace.h"
#include "model/Script.h"

namespace vxl_fixup {

class Result;
class NLSError;
class NameValuePair;
class XmlNode;

class FixupUtil {
public:
    // Trace log.
    static void trace(const std::string& source, const std::string& message, TRACE_LEVEL level) {
        Trace::trace(source, message, level);
    }
    static void trace(const std::string& source, const std::string& message) {
        Trace::trace(source, message);
    }

    // Command runner (see sFixupUtil).
    static int runCommand(const std::string* command, Result* result, bool discardStdErr);
    static int runCommand(const std::string* command, std::vector<const std::string*> envList,
                          Result* result, bool discardStdErr);
    static int runExe(const std::string* exe, std::vector<const std::string*> args, Result* result,
                      bool discardStdErr);
    static int runExe(const std::string* exe, std::vector<const std::string*> args,
                      std::vector<const std::string*> envList, Result* result, bool discardStdErr);
    // runExe with standard error captured; true when the program ran and
    // exited 0 (the result is then SUCCESSFUL).
    static bool runExeSucceeded(const std::string* exe, std::vector<const std::string*> args,
                                Result* result);
    static void initScratchPad();
    static void disposeScratchPad();
    static void addExecutableTracesToTraceFile(std::string* label);

    // File system.
    static bool checkFileExistence(const std::string* path);
    static bool checkDirectoryExistence(const std::string* path);
    static bool createDirectory(const std::string* path, const std::string& mode, Result* result);
    static bool changeFilePermissions(const std::string* path, const std::string& mode,
                                      Result* result);
    static bool changeFileOwnerShip(const std::string* path, const std::string& user,
                                    const std::string& group, Result* result);
    static bool renameFile(const std::string* oldPath, const std::string* newPath, Result* result);
    static void deleteFileIfExists(const std::string* path);
    static std::vector<const std::string*> listFilesUnderDirectory(const std::string* dir);
    static std::string* getCurrentDirPath();
    // Copies line by line into a new target (an old one is deleted first; a
    // link planted meanwhile is never followed). The target gets the
    // process's default mode, or exactly targetMode when that is not negative,
    // set before any byte is written.
    static bool copyFile(const std::string* source, const std::string* target, Result* result,
                         int targetMode = -1);

    // Text.
    static std::string trimWhiteSpaces(const std::string& text);
    static std::vector<std::string> splitStringBySpaces(const std::string& text, bool honourQuotes);
    static std::vector<std::string> splitStringByDelim(const std::string& text,
                                                       const std::string& delimiter);
    static bool getMatchingLine(std::vector<std::string> lines,
                                std::vector<const std::string*> keys, int& index);
    static bool getMatchingLine(std::vector<std::string> lines, int start,
                                std::vector<const std::string*> keys, int& index);
    static bool hasMatchingLineInFile(const std::string* path, std::vector<const std::string*> keys,
                                      int& index);
    static int searchLineInCollection(std::vector<std::string> lines, const std::string& text);
    static NameValuePair* searchByKeyName(std::vector<NameValuePair*> pairs,
                                          const std::string* key);
    static bool hostNamesMatch(std::string name1, std::string name2);
    // The one test of "this configuration line sets this key": the trimmed
    // line starts with key and the key ends there, at a blank, a tab, "=",
    // ":" or the delimiter (so kernel.panic never matches
    // kernel.panic_on_oops). An empty key matches nothing.
    static bool lineStartsWithKey(const std::string& trimmedLine, const std::string& key,
                                  const std::string& delimiter);
    static std::string argListToString(std::vector<const std::string*> args);
    // The command text messages name: the tool path, one blank, then the
    // argument text (so two blanks stand before the first argument).
    static std::string commandText(const std::string& exe, std::vector<const std::string*> args);

    // Configuration-file entry update; a new Result the caller owns, never
    // null. SUCCESSFUL when the file holds the entry afterwards; FAILED with
    // Vxlg 9030 (path, node) when the file cannot be read or rewritten (it is
    // then left byte-identical) or when path, key or value is missing. The
    // rewrite goes through writeFileAtomically; unchanged content is not
    // written at all.
    static Result* updateEntryInsideConfigFile(const std::string* filePath, const std::string* key,
                                               const std::string* value, std::string delimiter,
                                               bool addIfMissing);

    // The configuration-file outcomes every rewrite shares. readConfigFile
    // reads the lines; writeConfigFile writes them back, each followed by a
    // newline, through writeFileAtomically and merges SUCCESSFUL. Either one
    // that fails traces the reason, adds Vxlg 9030 (path, node) and merges
    // FAILED; the file is then left as it was.
    static bool readConfigFile(const std::string& source, const std::string& path,
                               std::vector<std::string>& lines, Result* result);
    static bool writeConfigFile(const std::string& source, const std::string& path,
                                const std::vector<std::string>& lines, Result* result);

    // A missing or unusable input: adds Vxlg 9031 (no arguments), sets FAILED
    // and returns result.
    static Result* refuseInput(Result* result);

    // One value, one line. True when text holds no CR, LF or NUL and is at
    // most kMaxValueBytes long (a null text passes: callers report a missing
    // value themselves). Otherwise
    // traces what was refused under source, adds Vxlg 9031 (no arguments)
    // and sets FAILED: a document or script value that would be written into
    // a configuration line can never add a second line. Check before anything
    // is run or written.
    static bool acceptSingleLineValue(const std::string& source, const std::string* text,
                                      Result* result);
    // The longest value a document or script may hand to a file or a tool.
    static const size_t kMaxValueBytes = 4096;

    // Values that each become one argument word of a tool: every one must
    // pass acceptSingleLineValue and must not start with "-" (the tool would
    // read it as an option, whatever the quoting). Null texts pass. The first
    // one refused is traced under source, with Vxlg 9031 and FAILED.
    static bool acceptArgumentWords(const std::string& source,
                                    std::initializer_list<const std::string*> words,
                                    Result* result);
    // A configuration path a document or script names: one line and
    // absolute (a relative one would be resolved against the host's working
    // directory). Null passes; otherwise as acceptSingleLineValue.
    static bool acceptAbsolutePath(const std::string& source, const std::string* path,
                                   Result* result);

    // Task identifier number of a text (0 unknown), any letter case.
    static int getTaskID(const std::string* text);
    // Script type of a document text, any letter case.
    static _SCRIPT_TYPE getScriptType(const std::string* text);

    // Compact message text ("<NLS_MSG>..." groups); new texts.
    static std::string nlsErrorToString(NLSError* error);
    static std::string nlsErrorsToString(std::vector<NLSError*> errors);
    // Diagnostic dump of a node tree into the trace.
    static void dumpXmlDom(XmlNode* node);
};

}  // namespace vxl_fixup
