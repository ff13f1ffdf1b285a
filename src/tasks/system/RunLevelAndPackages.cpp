// The default run level (systemd target or init table), missing packages
// installed from a directory, and the package database rebuilt after its
// stale environment files are removed.
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
#include "tasks/system/sTaskSystemSettings.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {

const std::string kPackageDatabaseDir = "/var/lib/rpm";
const std::string kPackageDatabaseFiles = "__db.*";
const std::string kPackageGroupVariable = "VEXELQDISK_GRP=";
const std::string kInitDefaultId = "id:";
const std::string kInitDefault = ":initdefault:";

struct RunLevelTarget {
    const char* level;
    const char* target;
};

const RunLevelTarget kTargets[] = {
    {"0", "poweroff.target"},   {"poweroff.target", "poweroff.target"},
    {"1", "rescue.target"},     {"rescue.target", "rescue.target"},
    {"2", "multi-user.target"}, {"3", "multi-user.target"},
    {"4", "multi-user.target"}, {"multi-user.target", "multi-user.target"},
    {"5", "graphical.target"},  {"graphical.target", "graphical.target"},
    {"6", "reboot.target"},     {"reboot.target", "reboot.target"},
};

const char* targetOf(const std::string& level) {
    for (const RunLevelTarget& t : kTargets) {
        if (level == t.level) return t.target;
    }
    return nullptr;
}

void fail(Result* result, NLSError* error) {
    result->addError(error);
    result->setStatus(FAILED);
}

const char* node() { return Constants::localNodeNameOrEmpty().c_str(); }

// A package file name as it lies in a directory: rpm reads a leading "-" as
// an option (one of which runs macros) and expands glob and blank-separated
// words in file arguments itself, whatever the shell quoting.
bool isPlainPackageName(const std::string& name) {
    if (name.empty() || name[0] == '-' || name[0] == '.') return false;
    for (const char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '+' ||
                             c == '-' || c == '~' || c == '^';
        if (!allowed) return false;
    }
    return true;
}

// The run-level field of an init table's initdefault line: one run level,
// 0 to 6 or S (s).
bool fitsInitTable(const std::string& level) {
    return level.size() == 1 && std::string("0123456Ss").find(level[0]) != std::string::npos;
}

}  // namespace

Result* sTaskSystemSettings::fixTaskRunLevel(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskRunLevel";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    const std::string* expected = data->getExpectedValue();
    const std::string* systemd = lastDataValue(data, "POST_DV7_SYSTEM");
    if (expected == nullptr) {
        Trace::trace(source, "Not Setting the runlevel as the expected value is not provided.",
                     TRACE_DETAIL);
        FixupUtil::refuseInput(result.get());
        return result.release();
    }

    if (systemd != nullptr && *systemd == "true") {
        const char* target = targetOf(*expected);
        if (target == nullptr) {
            Trace::trace(source,
                         "Invalid runlevel " + *expected +
                             "\n  Not Setting the runlevel as the expected value is not "
                             "provided.",
                         TRACE_DETAIL);
            FixupUtil::refuseInput(result.get());
            return result.release();
        }
        const std::string setDefault = "set-default";
        const std::string targetWord = shellQuote(target);
        const std::vector<const std::string*> args = {&setDefault, &targetWord};
        Trace::trace(source, std::string("Setting the runlevel to ") + target, TRACE_DETAIL);
        if (FixupUtil::runExeSucceeded(m_systemctlCmd, args, result.get())) {
            Trace::trace(source, "Successfully set the required runlevel target", TRACE_DETAIL);
            result->setStatus(SUCCESSFUL);
        } else {
            Trace::trace(source, "Failed to set the required runlevel target", TRACE_DETAIL);
            const std::string command = FixupUtil::commandText(*m_systemctlCmd, args);
            fail(result.get(),
                 new NLSError(NLS_FACILITY_VXLG, true, 9054, 4, target, command.c_str(), node(),
                              result->nativeErrorText().c_str()));
        }
        return result.release();
    }

    const std::string& path = *m_inittabFile;
    Trace::trace(source, "Setting the runlevel to " + *expected, TRACE_DETAIL);
    if (!FixupUtil::acceptSingleLineValue(source, expected, result.get())) {
        return result.release();
    }
    if (!fitsInitTable(*expected)) {
        Trace::trace(source, "Refusing the runlevel (" + *expected + "): not a run level");
        FixupUtil::refuseInput(result.get());
        return result.release();
    }
    std::vector<std::string> lines;
    if (!FixupUtil::readConfigFile(source, path, lines, result.get())) {
        Trace::trace(source, "Failed to read the run level value from file " + path, TRACE_DETAIL);
        return result.release();
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string& line = lines[i];
        Trace::trace(source,
                     "Checking line starting with pattern '" + kInitDefaultId + "' at line=" + line,
                     TRACE_DETAIL);
        // The action field may follow the id at once (id::initdefault:), so
        // the search starts at the id's own ":".
        const size_t action = line.find(kInitDefault, kInitDefaultId.size() - 1);
        if (!startsWith(line, kInitDefaultId) || action == std::string::npos) {
            continue;
        }
        Trace::trace(source,
                     "Found exact matching line at number: " + integerToString(static_cast<int>(i)),
                     TRACE_DETAIL);
        Trace::trace(source, "Exact entry to correct is (" + line + ")", TRACE_DETAIL);
        const std::string corrected = kInitDefaultId + *expected + line.substr(action);
        Trace::trace(source, "Exact entry after correction is (" + corrected + ")", TRACE_DETAIL);
        if (corrected == line) {
            result->setStatus(SUCCESSFUL);
        } else {
            line = corrected;
            FixupUtil::writeConfigFile(source, path, lines, result.get());
        }
        return result.release();
    }
    fail(result.get(), new NLSError(NLS_FACILITY_VXLG, true, 9044, 2, path.c_str(), node()));
    return result.release();
}

bool sTaskSystemSettings::isPackageInstalled(const std::string& name, Result* result) {
    static const std::string source = "sTaskSystemSettings::isPackageInstalled";
    TraceScope scope(source);
    Trace::trace(source, "checking if package name contains the extension too.", TRACE_DETAIL);
    std::string package = name;
    if (endsWith(package, ".rpm")) {
        Trace::trace(source, "Package name was specified with extension. truncating the extension",
                     TRACE_DETAIL);
        package.erase(package.size() - 4);
        Trace::trace(source, "Package name after truncating the extension is (" + package + ")",
                     TRACE_DETAIL);
    }
    if (!isPlainPackageName(package)) {
        Trace::trace(source, "Not querying (" + package + "): not a package name");
        return false;
    }
    const std::string query = "-q";
    const std::string word = shellQuote(package);
    return FixupUtil::runExeSucceeded(m_rpmCmd, {&query, &word}, result);
}

Result* sTaskSystemSettings::fixTaskPackage(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskPackage";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    const std::string* name = nullptr;
    const std::string* location = nullptr;
    const std::string* group = nullptr;
    for (const NameValuePair* item : data->getDataSet()) {
        if (*item->name == "NAME") {
            name = item->value;
            Trace::trace(source, "package name is " + *name, TRACE_DETAIL);
        } else if (*item->name == "LOC") {
            location = item->value;
            Trace::trace(source, "package location is " + *location, TRACE_DETAIL);
        } else if (*item->name == "GROUP") {
            group = item->value;
            Trace::trace(source, "package group is " + *group, TRACE_DETAIL);
        }
    }
    if (name == nullptr || location == nullptr || group == nullptr) {
        Trace::trace(source,
                     "Either package name, package location or package group value was "
                     "incorrect or null",
                     TRACE_DETAIL);
        FixupUtil::refuseInput(result.get());
        return result.release();
    }
    // Refused before anything runs: a name that is not a plain file name, a
    // location rpm would read as an option, a group that would not stay one
    // environment line.
    const bool usable = isPlainPackageName(*name) && !location->empty() &&
                        FixupUtil::acceptArgumentWords(source, {name, location}, nullptr) &&
                        FixupUtil::acceptSingleLineValue(source, group, nullptr);
    if (!usable) {
        Trace::trace(source, "Refusing package (" + *name + ") from location (" + *location +
                                 "): not a package file name, location or group");
        FixupUtil::refuseInput(result.get());
        return result.release();
    }

    Trace::trace(source, "Checking if package " + *name + " is already installed", TRACE_DETAIL);
    if (isPackageInstalled(*name, result.get())) {
        Trace::trace(source,
                     "No fix-up required, Package '" + *name +
                         "' is already installed on this host. Installed packages : " +
                         (result->getOutput() ? *result->getOutput() : std::string()),
                     TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
        return result.release();
    }
    // Not installed is no error: the query's failure is forgotten.
    result->clear();
    Trace::trace(source,
                 "Package is missing on this node. Installing package " + *name +
                     " from location " + *location,
                 TRACE_DETAIL);
    const std::string file = *location + getFilePathSeparator() + *name;
    if (!FixupUtil::checkFileExistence(&file)) {
        Trace::trace(source,
                     "package (" + *name + ") source does not exist at path \"" + file + "\"",
                     TRACE_DETAIL);
        fail(result.get(), new NLSError(NLS_FACILITY_VXLG, true, 9021, 2, file.c_str(), node()));
        return result.release();
    }
    const std::string upgrade = "-Uvh", noSignature = "--nosignature";
    const std::string fileWord = shellQuote(file);
    const std::string environment = kPackageGroupVariable + *group;
    const int rc = FixupUtil::runExe(m_rpmCmd, {&upgrade, &noSignature, &fileWord}, {&environment},
                                     result.get(), false);
    if (rc == 0 && result->isSuccessFul()) {
        Trace::trace(source,
                     "package (" + *name + ") successfully installed from location \"" + *location +
                         "\" using command " + *m_rpmCmd,
                     TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
    } else {
        Trace::trace(source,
                     "package (" + *name + ") could not be installed from location \"" + *location +
                         "\" using command " + *m_rpmCmd,
                     TRACE_DETAIL);
        fail(result.get(), new NLSError(NLS_FACILITY_VXLG, true, 9045, 3, name->c_str(),
                                        location->c_str(), node()));
    }
    return result.release();
}

Result* sTaskSystemSettings::fixTaskRPMDatabase(FixupData* /*data*/) {
    static const std::string source = "sTaskSystemSettings::fixTaskRPMDatabase";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    // The pattern stays outside the quotes: the shell expands it.
    const std::string force = "-rf";
    const std::string pattern =
        shellQuote(kPackageDatabaseDir + getFilePathSeparator()) + kPackageDatabaseFiles;
    int rc = FixupUtil::runExe(m_rmCmd, {&force, &pattern}, result.get(), false);
    if (rc != 0 || !result->isSuccessFul()) {
        Trace::trace(source, "Failed to remove the existing RPM DB files using command " + *m_rmCmd,
                     TRACE_DETAIL);
        fail(result.get(),
             new NLSError(NLS_FACILITY_VXLG, true, 9093, 3, kPackageDatabaseDir.c_str(), node(),
                          result->nativeErrorText().c_str()));
        return result.release();
    }
    result->clear();
    const std::string rebuild = "--rebuilddb";
    rc = FixupUtil::runExe(m_rpmCmd, {&rebuild}, result.get(), false);
    if (rc != 0 || !result->isSuccessFul()) {
        const std::string command = FixupUtil::commandText(*m_rpmCmd, {&rebuild});
        Trace::trace(source, "Failed to rebuild RPM database using command " + command,
                     TRACE_DETAIL);
        fail(result.get(), new NLSError(NLS_FACILITY_VXLG, true, 9094, 3, command.c_str(), node(),
                                        result->nativeErrorText().c_str()));
        return result.release();
    }
    Trace::trace(source, "Successfully rebuild the RPM DB", TRACE_DETAIL);
    result->setStatus(SUCCESSFUL);
    return result.release();
}

}  // namespace vxl_fixup
