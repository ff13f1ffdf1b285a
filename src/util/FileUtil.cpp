// File-system operations behind the FixupUtil facade. Permission and
// ownership changes go through the command runner with every word quoted;
// everything else calls the operating system directly.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupException.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"
#include "util/sFixupUtil.h"

namespace vxl_fixup {

namespace {

const std::string& orEmpty(const std::string* s) {
    static const std::string empty;
    return s ? *s : empty;
}

const char* nodeName() { return Constants::localNodeNameOrEmpty().c_str(); }

}  // namespace

bool sFixupUtil::checkFileExistence(const std::string* path) {
    static const std::string source = "sFixupUtil::checkFileExistence";
    const std::string& p = orEmpty(path);
    Trace::trace(source, "Checking existence of file " + p);
    const int fd = p.empty() ? -1 : ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Trace::trace(source, p + " not found");
        return false;
    }
    ::close(fd);
    Trace::trace(source, p + " exists");
    return true;
}

bool sFixupUtil::checkDirectoryExistence(const std::string* path) {
    static const std::string source = "sFixupUtil::checkDirectoryExistence";
    const std::string& p = orEmpty(path);
    Trace::trace(source, "Checking existence of directory " + p);
    struct stat st {};
    if (!p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        Trace::trace(source, p + " exists");
        return true;
    }
    Trace::trace(source, p + " not found");
    return false;
}

bool sFixupUtil::createDirectory(const std::string* path, const std::string& mode, Result* result) {
    if (result == nullptr) return false;
    if (checkDirectoryExistence(path)) {
        result->updateStatus(SUCCESSFUL);
        return true;
    }
    const std::string& p = orEmpty(path);
    if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) {
        const int e = errno;
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9077, 3, p.c_str(), nodeName(),
                                      errorNumberToString(e)));
        result->updateStatus(FAILED);
        return false;
    }
    return changeFilePermissions(path, mode, result);
}

bool sFixupUtil::changeFilePermissions(const std::string* path, const std::string& mode,
                                       Result* result) {
    static const std::string source = "sFixupUtil::changeFilePermissions";
    if (result == nullptr) return false;
    if (path == nullptr || path->empty() || mode.empty()) {
        Trace::trace(source,
                     "either file path OR permissions are passed as null or an empty string",
                     TRACE_DETAIL);
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 4500, 1, "filePath"));
        result->setStatus(FAILED);
        return false;
    }
    if (!checkFileExistence(path)) {
        Trace::trace(source, "The file " + *path + " does not exist on this node.", TRACE_DETAIL);
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9021, 2, path->c_str(), nodeName()));
        result->setStatus(FAILED);
        return false;
    }
    Trace::trace(source, "Changing permissions of existing file " + *path + " to " + mode,
                 TRACE_DETAIL);
    const std::string command = "chmod " + shellQuote(mode) + " " + shellQuote(*path);
    return runCommand(&command, result, false) == 0;
}

bool sFixupUtil::changeFileOwnerShip(const std::string* path, const std::string& user,
                                     const std::string& group, Result* result) {
    static const std::string source = "sFixupUtil::changeFileOwnerShip";
    if (result == nullptr) return false;
    if (path == nullptr || path->empty() || user.empty() || group.empty()) {
        Trace::trace(source,
                     "either file path OR user name or group name are passed as null or an "
                     "empty string",
                     TRACE_DETAIL);
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 4500, 1, "filePath"));
        result->setStatus(FAILED);
        return false;
    }
    if (!checkFileExistence(path)) {
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9021, 2, path->c_str(), nodeName()));
        result->setStatus(FAILED);
        return false;
    }
    const std::string owner = user + ":" + group;
    Trace::trace(source, "Changing ownership of existing file " + *path + " to " + owner,
                 TRACE_DETAIL);
    const std::string command = "chown " + shellQuote(owner) + " " + shellQuote(*path);
    return runCommand(&command, result, false) == 0;
}

bool sFixupUtil::renameFile(const std::string* oldPath, const std::string* newPath,
                            Result* result) {
    if (result == nullptr) return false;
    const std::string& from = orEmpty(oldPath);
    const std::string& to = orEmpty(newPath);
    if (::rename(from.c_str(), to.c_str()) == 0) {
        result->updateStatus(SUCCESSFUL);
        return true;
    }
    const int e = errno;
    result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9087, 4, from.c_str(), to.c_str(),
                                  nodeName(), errorNumberToString(e)));
    result->updateStatus(FAILED);
    return false;
}

void sFixupUtil::deleteFileIfExists(const std::string* path) {
    if (path == nullptr) return;
    Trace::trace("sFixupUtil::deleteFileIfExists", "Deleting file " + *path, TRACE_DETAIL);
    // A missing file (or a directory, which is left alone) is not an error.
    if (!path->empty()) ::unlink(path->c_str());
}

std::vector<const std::string*> sFixupUtil::listFilesUnderDirectory(const std::string* dir) {
    std::vector<const std::string*> names;
    if (dir == nullptr || dir->empty()) return names;
    DIR* handle = ::opendir(dir->c_str());  // close-on-exec in the C library
    if (handle == nullptr) return names;
    while (const struct dirent* entry = ::readdir(handle)) {
        names.push_back(new std::string(entry->d_name));
    }
    ::closedir(handle);
    return names;
}

std::string* sFixupUtil::getCurrentDirPath() {
    char buffer[1024];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        throw FixupException("Failed to obtain the current working directory path error no is " +
                             integerToString(errno));
    }
    return new std::string(std::string(buffer) + getFilePathSeparator());
}

std::string sFixupUtil::argListToString(std::vector<const std::string*> args) {
    std::string text;
    for (const std::string* arg : args) {
        if (arg != nullptr) text += " " + *arg;
    }
    return text;
}

bool FixupUtil::copyFile(const std::string* source, const std::string* target, Result* result,
                         int targetMode) {
    static const std::string traceSource = "FixupUtil::copyFile";
    if (result == nullptr) return false;
    const std::string& from = orEmpty(source);
    const std::string& to = orEmpty(target);
    std::vector<std::string> lines;
    int e = ENOENT;
    if (from.empty() || !readFileLines(from, lines, e)) {
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9080, 3, from.c_str(), nodeName(),
                                      errorNumberToString(e)));
        result->updateStatus(FAILED);
        Trace::trace(traceSource, "Failed to open the source file " + from);
        return false;
    }
    sFixupUtil::deleteFileIfExists(target);
    std::string content;
    for (const std::string& line : lines) content += line + "\n";
    // Exclusive and not following links: the name was just freed, and a link
    // planted there meanwhile must not redirect the copy.
    const mode_t mode = targetMode >= 0 ? static_cast<mode_t>(targetMode) & 07777 : 0666;
    const int fd =
        to.empty() ? -1
                   : ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    e = to.empty() ? ENOENT : errno;
    // The umask only narrows the mode open() gave; set the exact one on the
    // descriptor, never through the name.
    bool written = fd >= 0 && (targetMode < 0 || ::fchmod(fd, mode) == 0 || ((e = errno), false));
    written = written && writeAllBytes(fd, content, e);
    if (fd >= 0 && ::close(fd) != 0 && written) {
        e = errno;
        written = false;
    }
    if (!written) {
        if (fd >= 0) ::unlink(to.c_str());  // no half copy left behind
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9082, 3, to.c_str(), nodeName(),
                                      errorNumberToString(e)));
        result->updateStatus(FAILED);
        Trace::trace(traceSource, "Failed to create the target file at location " + to);
        return false;
    }
    Trace::trace(traceSource,
                 "Successfully copied source file " + from + " contents to tareget file " + to);
    result->updateStatus(SUCCESSFUL);
    return true;
}

}  // namespace vxl_fixup
