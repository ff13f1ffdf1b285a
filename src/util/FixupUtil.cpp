// The facade's forwarders to sFixupUtil. Four of them first write the trace
// line the task families' logs are read by.
#include "util/FixupUtil.h"

#include <utility>

#include "model/Result.h"
#include "util/sFixupUtil.h"

namespace vxl_fixup {

namespace {
const std::string& orEmpty(const std::string* s) {
    static const std::string empty;
    return s ? *s : empty;
}
}  // namespace

int FixupUtil::runCommand(const std::string* command, Result* result, bool discardStdErr) {
    return sFixupUtil::runCommand(command, result, discardStdErr);
}

int FixupUtil::runCommand(const std::string* command, std::vector<const std::string*> envList,
                          Result* result, bool discardStdErr) {
    return sFixupUtil::runCommand(command, envList, result, discardStdErr);
}

int FixupUtil::runExe(const std::string* exe, std::vector<const std::string*> args, Result* result,
                      bool discardStdErr) {
    return sFixupUtil::runExe(exe, args, result, discardStdErr);
}

int FixupUtil::runExe(const std::string* exe, std::vector<const std::string*> args,
                      std::vector<const std::string*> envList, Result* result, bool discardStdErr) {
    return sFixupUtil::runExe(exe, args, envList, result, discardStdErr);
}

bool FixupUtil::runExeSucceeded(const std::string* exe, std::vector<const std::string*> args,
                                Result* result) {
    return runExe(exe, std::move(args), result, false) == 0 && result->isSuccessFul();
}

void FixupUtil::initScratchPad() { sFixupUtil::initScratchPad(); }

void FixupUtil::disposeScratchPad() { sFixupUtil::disposeScratchPad(); }

void FixupUtil::addExecutableTracesToTraceFile(std::string* label) {
    sFixupUtil::addExecutableTracesToTraceFile(label);
}

bool FixupUtil::checkFileExistence(const std::string* path) {
    trace("FixupUtil::checkFileExistence", "Checking existence of file " + orEmpty(path));
    return sFixupUtil::checkFileExistence(path);
}

bool FixupUtil::checkDirectoryExistence(const std::string* path) {
    trace("FixupUtil::checkDirectoryExistence", "Checking existence of directory " + orEmpty(path));
    return sFixupUtil::checkDirectoryExistence(path);
}

bool FixupUtil::createDirectory(const std::string* path, const std::string& mode, Result* result) {
    trace("FixupUtil::createDirectory", "Creating directory " + orEmpty(path));
    return sFixupUtil::createDirectory(path, mode, result);
}

bool FixupUtil::changeFilePermissions(const std::string* path, const std::string& mode,
                                      Result* result) {
    return sFixupUtil::changeFilePermissions(path, mode, result);
}

bool FixupUtil::changeFileOwnerShip(const std::string* path, const std::string& user,
                                    const std::string& group, Result* result) {
    return sFixupUtil::changeFileOwnerShip(path, user, group, result);
}

bool FixupUtil::renameFile(const std::string* oldPath, const std::string* newPath, Result* result) {
    return sFixupUtil::renameFile(oldPath, newPath, result);
}

void FixupUtil::deleteFileIfExists(const std::string* path) {
    sFixupUtil::deleteFileIfExists(path);
}

std::vector<const std::string*> FixupUtil::listFilesUnderDirectory(const std::string* dir) {
    trace("FixupUtil::listFilesUnderDirectory", "Listing files under directory " + orEmpty(dir));
    return sFixupUtil::listFilesUnderDirectory(dir);
}

std::string* FixupUtil::getCurrentDirPath() { return sFixupUtil::getCurrentDirPath(); }

std::string FixupUtil::argListToString(std::vector<const std::string*> args) {
    return sFixupUtil::argListToString(args);
}

std::string FixupUtil::commandText(const std::string& exe, std::vector<const std::string*> args) {
    return exe + " " + sFixupUtil::argListToString(std::move(args));
}

}  // namespace vxl_fixup
