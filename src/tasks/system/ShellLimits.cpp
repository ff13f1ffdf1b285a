// Shell limits: one soft or hard limit per user in the PAM limits files, and
// the locked-memory limit in the limits file a fix-up script names. Both rest
// on one line editor, fixShellLimit.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "model/Script.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {

const std::string kSshdConfig = "/etc/ssh/sshd_config";

struct LimitItem {
    const char* dataName;
    const char* type;
    const char* item;
};

const LimitItem kLimitItems[] = {
    {"SOFT_FILES", "soft", "nofile"},  {"SOFT_PROCESS", "soft", "nproc"},
    {"SOFT_STACK", "soft", "stack"},   {"HARD_FILES", "hard", "nofile"},
    {"HARD_PROCESS", "hard", "nproc"}, {"HARD_STACK", "hard", "stack"},
};

bool equalsIgnoringCase(const std::string& text, const char* word) {
    return lowerCaseCopy(text) == word;
}

// PAM's words for "no limit".
bool isUnlimited(const std::string& value) {
    return equalsIgnoringCase(value, "unlimited") || equalsIgnoringCase(value, "infinity");
}

bool isLimitValue(const std::string& value) {
    if (isUnlimited(value)) return true;
    return !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// A field of a limits line: one word that does not start a comment.
bool isLimitsField(const std::string& text) {
    return !text.empty() && text[0] != '#' && text.find_first_of(" \t") == std::string::npos;
}

// The domain of a limits entry as PAM reads it: a user name, "@group",
// "%group", "*" or "%"; one word that no tool or reader could take for an
// option.
bool isLimitsDomain(const std::string& text) {
    if (text == "*" || text == "%") return true;
    const size_t start = !text.empty() && (text[0] == '@' || text[0] == '%') ? 1 : 0;
    size_t end = text.size();
    if (end > start && text[end - 1] == '$') --end;
    if (end == start || text[start] == '-') return false;
    for (size_t i = start; i < end; ++i) {
        const char c = text[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}

void refuse(Result* result, const std::string& source, const std::string& why) {
    Trace::trace(source, why, TRACE_DETAIL);
    FixupUtil::refuseInput(result);
}

// Everything fixShellLimit writes, checked before any file is read: the
// entry must stay one line of four fields with a value PAM understands.
bool acceptLimitsEntry(const std::string& source, const std::string* user, const std::string* type,
                       const std::string* item, const std::string* value, Result* result) {
    if (user == nullptr || type == nullptr || item == nullptr || value == nullptr) {
        refuse(result, source,
               "User OR Hard/Soft OR File/Proc or Value not provided for shell limits to be "
               "updated");
        return false;
    }
    for (const std::string* field : {user, type, item, value}) {
        if (!FixupUtil::acceptSingleLineValue(source, field, result)) return false;
        if (!isLimitsField(*field)) {
            refuse(result, source, "Refusing the limits field (" + *field + "): not one word");
            return false;
        }
    }
    if (!isLimitsDomain(*user)) {
        refuse(result, source, "Refusing the limits user (" + *user + "): not a user or group");
        return false;
    }
    if (!isLimitValue(*value)) {
        refuse(result, source,
               "Refusing the limit value (" + *value + "): neither a number nor unlimited");
        return false;
    }
    return true;
}

// Where word number n (from 0) of a line starts, words separated by blanks
// and tabs as the line matcher splits them; npos when the line is shorter.
size_t wordStart(const std::string& line, size_t n) {
    size_t at = line.find_first_not_of(" \t");
    for (size_t k = 0; k < n && at != std::string::npos; ++k) {
        at = line.find_first_of(" \t", at);
        if (at != std::string::npos) at = line.find_first_not_of(" \t", at);
    }
    return at;
}

// Limits files do nothing for SSH logins when the daemon bypasses PAM. True
// when the task may go on; otherwise the result holds the failure.
bool sshDaemonUsesPam(const std::string& sedCmd, Result* result) {
    static const std::string source = "sTaskSystemSettings::fixTaskShellLimit";
    const std::string quiet = "-n";
    const std::string cutComments = "-e 's/\\([^#]*\\)#\\(.*\\)/\\1/'";
    const std::string printUsePam = "-e '/UsePAM\\([ \\t]*\\) /p'";
    const std::string config = shellQuote(kSshdConfig);
    const std::vector<const std::string*> args = {&quiet, &cutComments, &printUsePam, &config};
    const int rc = FixupUtil::runExe(&sedCmd, args, result, false);
    const std::string& node = Constants::localNodeNameOrEmpty();
    if (rc != 0 && !result->isSuccessFul()) {
        Trace::trace(source, "Failed to get the UsePAM setting in the file /etc/ssh/sshd_config)",
                     TRACE_DETAIL);
        const std::string command = sedCmd + FixupUtil::argListToString(args);
        result->addError(new NLSError(NLS_FACILITY_VXLF, true, 5718, 3, command.c_str(),
                                      node.c_str(), result->nativeErrorText().c_str()));
        result->setStatus(FAILED);
        return false;
    }
    Trace::trace(source, "Got the UsePAM settings from the /etc/ssh/sshd_config file",
                 TRACE_DETAIL);
    const std::string output = result->getOutput() ? *result->getOutput() : std::string();
    if (output.empty()) return true;
    Trace::trace(source, "Command output (" + output + ")", TRACE_DETAIL);
    // The daemon obeys the first UsePAM line and reads its value in any case.
    const std::vector<std::string> fields =
        FixupUtil::splitStringBySpaces(output.substr(0, output.find('\n')), false);
    if (fields.size() == 2 && equalsIgnoringCase(fields[1], "no")) {
        Trace::trace(source, "UsePAM set to no in the /etc/ssh/sshd_config file", TRACE_DETAIL);
        result->addError(
            new NLSError(NLS_FACILITY_VXLH, true, 1002, 2, kSshdConfig.c_str(), node.c_str()));
        result->setStatus(FAILED);
        return false;
    }
    return true;
}

bool isConfFileName(const std::string& name) {
    if (name.size() <= 5) return false;
    const std::string suffix = name.substr(name.size() - 5);
    return suffix == ".conf" || suffix == ".CONF";
}

}  // namespace

const std::string* sTaskSystemSettings::lastDataValue(const FixupData* data, const char* name) {
    const std::string* value = nullptr;
    for (const NameValuePair* item : data->getDataSet()) {
        if (*item->name == name) value = item->value;
    }
    return value;
}

Result* sTaskSystemSettings::fixTaskShellLimit(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskShellLimit";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    result->setStatus(SUCCESSFUL);
    if (!sshDaemonUsesPam(*m_sedCmd, result.get())) return result.release();

    const std::string* user = nullptr;
    const LimitItem* limit = nullptr;
    const std::string* value = nullptr;
    for (const NameValuePair* item : data->getDataSet()) {
        if (*item->name == "USER") user = item->value;
        for (const LimitItem& candidate : kLimitItems) {
            if (*item->name == candidate.dataName) {
                limit = &candidate;
                value = item->value;
            }
        }
    }
    const std::string type = limit ? limit->type : "";
    const std::string itemName = limit ? limit->item : "";
    const std::string* typePtr = limit ? &type : nullptr;
    const std::string* itemPtr = limit ? &itemName : nullptr;
    // Checked once before any file: a bad entry must not half-apply.
    if (!acceptLimitsEntry(source, user, typePtr, itemPtr, value, result.get())) {
        return result.release();
    }

    bool edited = false;
    // Skipped only when absent: one that is there but cannot be read fails.
    struct stat st {};
    if (::stat(m_limitsConfFile->c_str(), &st) == 0 || errno != ENOENT) {
        result.reset(fixShellLimit(user, typePtr, itemPtr, value, m_limitsConfFile));
        edited = true;
    }
    if (result->isSuccessFul() && FixupUtil::checkDirectoryExistence(m_limitsConfDir)) {
        std::vector<std::string> names;
        for (const std::string* name : FixupUtil::listFilesUnderDirectory(m_limitsConfDir)) {
            names.push_back(FixupUtil::trimWhiteSpaces(*name));
            delete name;
        }
        // A directory lists at least "." and "..": nothing at all means it
        // could not be read, and a file there may still override the limit.
        if (names.empty()) {
            Trace::trace(source, "Could not list the files of " + *m_limitsConfDir);
            result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9030, 2,
                                          m_limitsConfDir->c_str(),
                                          Constants::localNodeNameOrEmpty().c_str()));
            result->setStatus(FAILED);
            return result.release();
        }
        // PAM reads these files in name order; edit them in the same order.
        std::sort(names.begin(), names.end());
        std::vector<std::string> defining;
        for (const std::string& name : names) {
            if (!isConfFileName(name)) continue;
            const std::string path = *m_limitsConfDir + getFilePathSeparator() + name;
            // One that cannot be read may still set the limit: that fails.
            std::vector<std::string> lines;
            if (!FixupUtil::readConfigFile(source, path, lines, result.get())) {
                return result.release();
            }
            int index = -1;
            if (FixupUtil::getMatchingLine(lines, 0, {user, typePtr, itemPtr}, index)) {
                Trace::trace(source, "Shell limit entry exists in conf file " + path, TRACE_DETAIL);
                defining.push_back(path);
            }
        }
        if (defining.empty()) {
            Trace::trace(source,
                         "Fixed thevalue as applicable in the default limits.conf "
                         "successfully.The files under limits.d directory are either absent or "
                         "did notexplicitly define the user specific limit for this resource",
                         TRACE_DETAIL);
        }
        for (const std::string& path : defining) {
            result.reset(fixShellLimit(user, typePtr, itemPtr, value, &path));
            edited = true;
            if (!result->isSuccessFul()) break;
        }
    }
    // Without limits.conf and without a file that defines the limit, the
    // limit was set nowhere: that is no success.
    if (!edited) {
        Trace::trace(
            source, "No limits file to set the limit in: " + *m_limitsConfFile + " does not exist");
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9030, 2, m_limitsConfFile->c_str(),
                                      Constants::localNodeNameOrEmpty().c_str()));
        result->setStatus(FAILED);
    }
    return result.release();
}

Result* sTaskSystemSettings::fixShellLimit(const std::string* user, const std::string* type,
                                           const std::string* item, const std::string* newValue,
                                           const std::string* file) {
    static const std::string source = "sTaskSystemSettings::fixShellLimit";
    TraceScope scope(source);
    Trace::trace(source, "fixing shell limits on Linux", TRACE_DETAIL);
    Result* result = new Result();
    result->setStatus(SUCCESSFUL);
    if (!acceptLimitsEntry(source, user, type, item, newValue, result)) return result;
    const std::string& value = *newValue;
    const std::string path = file ? *file : std::string();
    Trace::trace(source,
                 "Processing with inputs \nuserName=" + *user + "\ntype=" + *type +
                     "\nitem=" + *item + "\nnewValue=" + value,
                 TRACE_DETAIL);
    Trace::trace(source, "Fixing the shell limits inside file " + path, TRACE_DETAIL);
    std::vector<std::string> lines;
    if (!FixupUtil::readConfigFile(source, path, lines, result)) return result;

    bool changed = false;
    bool matched = false;
    int index = -1;
    for (int from = 0; FixupUtil::getMatchingLine(lines, from, {user, type, item}, index);
         from = index + 1) {
        matched = true;
        std::string& line = lines[static_cast<size_t>(index)];
        Trace::trace(source, "Found exact matching line at number: " + integerToString(index),
                     TRACE_DETAIL);
        Trace::trace(source, "Found matching line is : " + line, TRACE_DETAIL);
        const std::vector<std::string> words = FixupUtil::splitStringByDelim(line, " ");
        const std::string current = words.size() >= 4 ? words[3] : std::string();
        if (isUnlimited(current) && *item != "stack") {
            Trace::trace(source,
                         "Not correcting the line as it is set to unlimited i.e. " + current,
                         TRACE_DETAIL);
            continue;
        }
        if (current.empty()) {
            line += "  " + value;
            changed = true;
        } else {
            // The value field itself, never an earlier place where its text
            // also occurs (inside the user name); the blanks around it stay.
            const size_t at = wordStart(line, 3);
            Trace::trace(source,
                         "found current value " + current + " at index " +
                             integerToString(static_cast<int>(at)) + " to be replaced with " +
                             value,
                         TRACE_DETAIL);
            if (current != value) {
                line.replace(at, current.size(), value);
                changed = true;
            }
        }
        Trace::trace(source, "After correcting the line became: " + line, TRACE_DETAIL);
    }
    if (!matched) {
        lines.push_back("#Kelvane recommended value for " + *item + " is set to " + value +
                        " for user " + *user);
        Trace::trace(source, "Did not find matching entry in limits conf file, making new entry",
                     TRACE_DETAIL);
        const std::string entry = *user + "  " + *type + "  " + *item + "  " + value;
        Trace::trace(source, "Adding new entry as : " + entry, TRACE_DETAIL);
        lines.push_back(entry);
        changed = true;
    }
    // Unchanged content is not rewritten at all (not even to add a missing
    // final newline).
    if (changed) FixupUtil::writeConfigFile(source, path, lines, result);
    return result;
}

Result* sTaskSystemSettings::fixMemlockMaxLimit(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixMemlockMaxLimit";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    const std::string* user = lastDataValue(data, "USER");
    const std::vector<Script*> scripts = data->getScriptList();
    if (scripts.empty()) {
        refuse(result.get(), source, "The fix-up script file name and location was not provided");
        return result.release();
    }
    result.reset(scripts[0]->runScript());
    if (!result->isSuccessFul()) return result.release();
    const std::string limitsFile =
        result->getOutput() ? FixupUtil::trimWhiteSpaces(*result->getOutput()) : std::string();
    const std::string* expected = data->getExpectedValue();
    if (user == nullptr || expected == nullptr || limitsFile.empty()) {
        refuse(result.get(), source,
               "User name OR Expected Value or limits conf file not provided for shell limits to "
               "be updated");
        return result.release();
    }
    // The output names one file by its absolute path; anything else would
    // be resolved against the host's working directory or is not a path.
    if (!FixupUtil::acceptAbsolutePath(source, &limitsFile, result.get())) {
        return result.release();
    }
    Trace::trace(source,
                 "Fixing the shell hard limit memlock max for user (" + *user +
                     ") by setting to expected value of (" + *expected + ")",
                 TRACE_DETAIL);
    const std::string hard = "hard", soft = "soft", memlock = "memlock";
    result.reset(fixShellLimit(user, &hard, &memlock, expected, &limitsFile));
    if (result->isSuccessFul()) {
        result.reset(fixShellLimit(user, &soft, &memlock, expected, &limitsFile));
    }
    return result.release();
}

}  // namespace vxl_fixup
