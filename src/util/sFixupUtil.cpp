// Command runner: every command of a run has its standard output captured in
// the scratch pad and its standard error in the error pad (or /dev/null),
// both in the per-process scratch directory. The work directory may belong to
// another user, who can rename entries in it at any time: the scratch
// directory is opened once per run and held, and every pad is created, read
// and removed through that descriptor, never through its name; commands
// receive their pads as open descriptors. A line that is one program named by
// path with quoted words is started without the shell (DirectStart.h); any
// other line goes through /bin/sh.
#include "util/sFixupUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupException.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "util/DirectStart.h"
#include "util/FileIO.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {

const std::string& orEmpty(const std::string* s) {
    static const std::string empty;
    return s ? *s : empty;
}

// The scratch directory initScratchPad set up: its path (so that
// disposeScratchPad removes that one even if the work directory constant
// changed in between), the descriptor that holds it and the pads' names in it.
struct ScratchDirectory {
    std::string path;
    int fd = -1;
    struct stat st {};
    std::string outName, errName, logName;
};

ScratchDirectory& scratch() {
    static ScratchDirectory held;
    return held;
}

void releaseScratch() {
    ScratchDirectory& held = scratch();
    if (held.fd >= 0) ::close(held.fd);
    held = ScratchDirectory();
}

std::string scratchDirectoryFromConstants() {
    return orEmpty(Constants::WORK_DIR_PATH) + FIXUP_NATIVE_SCRATCH_DIR;
}

// Removes a pad by its name in the held directory, traced as a deletion.
void removePad(const std::string& name, const std::string* path) {
    if (path == nullptr) return;
    Trace::trace("sFixupUtil::deleteFileIfExists", "Deleting file " + *path, TRACE_DETAIL);
    if (scratch().fd >= 0 && !name.empty()) ::unlinkat(scratch().fd, name.c_str(), 0);
}

// fd itself, or a copy of it at 3 or above when it is a standard descriptor
// (the host may have closed its own). -1 (fd closed, errno kept) on failure.
int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int e = errno;
    ::close(fd);
    errno = e;
    return moved;
}

// A fresh pad for one command: whatever carries the name goes first, then
// the pad is created exclusively, never through a link, readable by this
// user only, and placed above the standard descriptors so that putting it on
// 1 or 2 in the child cannot overwrite the other. -1 with errno otherwise.
int createPad(const std::string& name) {
    const int dir = scratch().fd;
    if (dir < 0 || name.empty()) {
        errno = EBADF;
        return -1;
    }
    ::unlinkat(dir, name.c_str(), 0);
    return aboveStandardStreams(::openat(
        dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
}

// The lines of the pad name in the held directory: only a regular file of
// ours is read, a link or anything else is not opened.
bool readPadAt(const std::string& name, std::vector<std::string>& lines) {
    const int dir = scratch().fd;
    if (dir < 0 || name.empty()) return false;
    const int fd =
        ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    std::string content;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (ok) lines = splitLines(content);
    return ok;
}

// The signal that ended the last command run, 0 when it exited.
int& lastSignal() {
    static int signal = 0;
    return signal;
}

// Why the last command could not run at all (empty: it ran).
std::string& lastStartFailure() {
    static std::string why;
    return why;
}

void replace(std::string*& slot, std::string* value) {
    delete slot;
    slot = value;
}

// putenv keeps the buffer it is given, so each variable's buffer lives here
// for the process. One buffer per name: setting the same entry again reuses
// it, and a new value replaces (and releases) the buffer the environment no
// longer points at, so repeated runs do not grow.
class EnvironmentBuffers {
public:
    // putenv's result; errno as putenv leaves it.
    static int set(const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('='));
        auto& buffers = table();
        auto found = buffers.find(name);
        if (found != buffers.end() && entry == found->second.get()) {
            return ::putenv(found->second.get());
        }
        std::unique_ptr<char[]> buffer(new char[entry.size() + 1]());
        std::memcpy(buffer.get(), entry.data(), entry.size());
        const int rc = ::putenv(buffer.get());
        if (rc == 0) buffers[name] = std::move(buffer);  // the old one is no longer referenced
        return rc;
    }

private:
    static std::map<std::string, std::unique_ptr<char[]>>& table() {
        // Never destroyed: the environment points into it until the process ends.
        static auto* buffers = new std::map<std::string, std::unique_ptr<char[]>>();
        return *buffers;
    }
};

}  // namespace

int sFixupUtil::runCommandInternal(const std::string* command, bool discardStdErr) {
    static const std::string source = "sFixupUtil::runCommandInternal";
    lastSignal() = 0;
    lastStartFailure().clear();
    if (command == nullptr || command->empty()) return -1;
    const std::string* outPad = Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH;
    const std::string* errPad = Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH;
    // Written as the shell line it amounts to: the command with its output
    // and error going to the pads.
    std::string line = *command + " >" + shellQuote(orEmpty(outPad));
    if (discardStdErr) {
        line += " 2>/dev/null";
    } else {
        line += " 2>" + shellQuote(orEmpty(errPad));
    }
    Trace::trace(source, "Executing command " + line, TRACE_DETAIL);
    // The pads hold this command's output or nothing: a pad an earlier
    // command left behind must never be reported as this one's.
    removePad(scratch().outName, outPad);
    removePad(scratch().errName, errPad);
    const int out = createPad(scratch().outName);
    int e = errno;
    const int err =
        out < 0 ? -1
                : (discardStdErr ? aboveStandardStreams(::open("/dev/null", O_WRONLY | O_CLOEXEC))
                                 : createPad(scratch().errName));
    if (out >= 0 && err < 0) e = errno;
    int status = -1;
    if (out < 0 || err < 0) {
        // Without its pads the command does not run: its output would go
        // where nobody reads it.
        lastStartFailure() = scratch().fd < 0 ? std::string("the scratch pad is not set up")
                                              : std::string("cannot create the scratch pad: ") +
                                                    errorNumberToString(e);
        Trace::trace(source, "Not run: " + lastStartFailure(), TRACE_DETAIL);
    } else {
        // Either way the same program runs with the same output and error and
        // reports the same status; starting it directly saves the shell.
        std::vector<std::string> words;
        int signal = 0, spawnError = 0;
        const bool direct =
            directStartWords(*command, words) && startDirectly(words, out, err, status, signal);
        if (direct) {
            lastSignal() = signal;
        } else if (startShell(*command, out, err, status, spawnError)) {
            if (status != -1 && WIFSIGNALED(status)) lastSignal() = WTERMSIG(status);
        } else {
            // No shell could start (a line beyond the argument size limit, no
            // memory): no output, and the error pad tells why, as the shell
            // would have.
            status = -1;
            const std::string why =
                std::string("/bin/sh: cannot start the command: ") + errorNumberToString(spawnError);
            Trace::trace(source, why, TRACE_DETAIL);
            int ignored = 0;
            if (!discardStdErr) writeAllBytes(err, why + "\n", ignored);
        }
    }
    if (out >= 0) ::close(out);
    if (err >= 0) ::close(err);
    const int exitCode = (status != -1 && (status & 0x7F) == 0) ? (status & 0xFF00) >> 8 : status;
    Trace::trace(source, "Exit code is  " + integerToString(exitCode), TRACE_DETAIL);
    return exitCode;
}

int sFixupUtil::runCommand(const std::string* command, Result* result, bool discardStdErr) {
    return runCommand(command, std::vector<const std::string*>(), result, discardStdErr);
}

int sFixupUtil::runCommand(const std::string* command, std::vector<const std::string*> envList,
                           Result* result, bool discardStdErr) {
    static const std::string source = "sFixupUtil::runCommand";
    if (command == nullptr || command->empty()) return -1;
    std::unique_ptr<Result> privateResult;
    if (result == nullptr) {
        privateResult.reset(new Result());
        result = privateResult.get();
    }

    for (const std::string* entry : envList) {
        if (entry == nullptr || entry->empty()) continue;
        Trace::trace(source, "Setting environment variable " + *entry, TRACE_DETAIL);
        if (EnvironmentBuffers::set(*entry) != 0) {
            const int e = errno;
            Trace::trace(source,
                         "Failed to Set the environment variable " + *entry +
                             " Failed with error " + integerToString(e),
                         TRACE_DETAIL);
            result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9028, 2, entry->c_str(),
                                          Constants::localNodeNameOrEmpty().c_str()));
            result->setStatus(FAILED);
            return 1;
        }
        Trace::trace(source, "Successfully set the environment variable " + *entry, TRACE_DETAIL);
    }

    Trace::trace(source, "Calling runCommandInternal for " + *command, TRACE_DETAIL);
    const int exitCode = runCommandInternal(command, discardStdErr);
    readScratchPad(result);
    Trace::trace(source, "Exit code from runCommandInternal is  " + integerToString(exitCode),
                 TRACE_DETAIL);
    if (exitCode != 0) {
        recordFailure(command, exitCode, lastSignal(), result);
        result->setStatus(FAILED);
    } else {
        result->setStatus(SUCCESSFUL);
    }
    addExecutableTracesToTraceFile(command);
    return exitCode;
}

int sFixupUtil::runExe(const std::string* exe, std::vector<const std::string*> args, Result* result,
                       bool discardStdErr) {
    return runExe(exe, std::move(args), std::vector<const std::string*>(), result, discardStdErr);
}

int sFixupUtil::runExe(const std::string* exe, std::vector<const std::string*> args,
                       std::vector<const std::string*> envList, Result* result,
                       bool discardStdErr) {
    static const std::string source = "sFixupUtil::runExe";
    if (exe == nullptr || exe->empty()) return -1;
    std::unique_ptr<Result> privateResult;
    if (result == nullptr) {
        privateResult.reset(new Result());
        result = privateResult.get();
    }
    const bool isPath = exe->find('\\') != std::string::npos || exe->find('/') != std::string::npos;
    if (isPath && !checkFileExistence(exe)) {
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9020, 2, exe->c_str(),
                                      Constants::localNodeNameOrEmpty().c_str()));
        result->setStatus(FAILED);
        return 1;
    }
    // The executable path is a single word whatever it holds; the arguments
    // are the caller's, already quoted where they need it.
    const std::string line = "(" + shellQuote(*exe) + " " + argListToString(args) + ")";
    removePad(scratch().logName, Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH);
    Trace::trace(source, "Calling runCommandInternal for " + line, TRACE_DETAIL);
    return runCommand(&line, std::move(envList), result, discardStdErr);
}

void sFixupUtil::readScratchPad(Result* result) {
    static const std::string source = "sFixupUtil::readScratchPad";
    const std::string& path = orEmpty(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH);
    std::vector<std::string> lines;
    if (!readPadAt(scratch().outName, lines)) {
        Trace::trace(source, "Failed to open scratch pad file " + path, TRACE_DETAIL);
        return;
    }
    std::string* output = new std::string();
    for (const std::string& line : lines) {
        if (!output->empty()) output->push_back('\n');
        output->append(line);
    }
    Trace::trace(source, "Output of the command is =" + *output, TRACE_DETAIL);
    removePad(scratch().outName, &path);
    if (result != nullptr) {
        result->setOutput(output);
    } else {
        delete output;
    }
}

void sFixupUtil::readErrorPad(const std::string* command, const int& exitCode, Result* result) {
    recordFailure(command, exitCode, 0, result);
}

void sFixupUtil::recordFailure(const std::string* command, const int& exitCode, int signal,
                               Result* result) {
    static const std::string source = "sFixupUtil::readErrorPad";
    const std::string& path = orEmpty(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH);
    // A command a signal ended may have said nothing: the signal is its
    // reason, beside whatever it wrote.
    const std::string killed = signal > 0 ? "killed by signal " + integerToString(signal) : "";
    const auto withSignal = [&killed](const std::string& text) {
        return killed.empty() ? text : text.empty() ? killed : text + " (" + killed + ")";
    };
    std::vector<std::string> lines;
    if (!readPadAt(scratch().errName, lines)) {
        Trace::trace(source, "Failed to open scratch pad file " + path, TRACE_DETAIL);
        const std::string why = withSignal(lastStartFailure());
        if (result != nullptr && !why.empty()) result->setNativeErrorDetails(command, exitCode, &why);
        return;
    }
    std::string details;
    for (const std::string& line : lines) details += line;
    removePad(scratch().errName, &path);
    if (result == nullptr) return;
    if (details.empty()) {
        Trace::trace(source,
                     "Error pad has no failure details. Set the output from scratch pad as "
                     "native error");
        if (killed.empty()) {
            result->setNativeErrorDetails(command, exitCode, result->getOutput());
            return;
        }
        details = orEmpty(result->getOutput());
    }
    details = withSignal(details);
    result->setNativeErrorDetails(command, exitCode, &details);
}

void sFixupUtil::addExecutableTracesToTraceFile(const std::string* label) {
    static const std::string source = "sFixupUtil::addExecutableTracesToTraceFile";
    const std::string* path = Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH;
    if (label == nullptr || path == nullptr) return;
    std::vector<std::string> lines;
    if (!readPadAt(scratch().logName, lines)) {
        Trace::trace(source, "Failed to open script trace file " + *path, TRACE_DETAIL);
        return;
    }
    Trace::trace(source, "Adding trace from execution of script " + *label, TRACE_DETAIL);
    for (const std::string& line : lines) {
        if (!line.empty()) Trace::trace(*label, line, TRACE_DETAIL);
    }
    removePad(scratch().logName, path);
}

void sFixupUtil::initScratchPad() {
    static const std::string source = "sFixupUtil::initScratchPad";
    static const std::string failure =
        "initScratchPad() - Failed to initialize, scratch directory could not be created";
    const std::string dir = scratchDirectoryFromConstants();
    const int rc = ::mkdir(dir.c_str(), 0700);
    const int e = errno;
    Trace::trace(source, "initializing scratch pad", TRACE_DETAIL);
    if (rc != 0 && e != EEXIST) throw FixupException(failure);
    // The pads receive every command's output and are read back as its
    // result: only a private directory of ours is used, never a link or a
    // directory someone else can write into, and it is held from here on, so
    // renaming or replacing its name changes nothing for this run.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || ::fchmod(fd, 0700) != 0) {
        if (fd >= 0) ::close(fd);
        throw FixupException(failure);
    }
    releaseScratch();
    ScratchDirectory& held = scratch();
    held.path = dir;
    held.fd = fd;
    held.st = st;
    replace(Constants::CURRENT_PROCESS_ID, new std::string(integerToString(::getpid())));
    const std::string prefix = dir + getFilePathSeparator();
    const std::string& pid = *Constants::CURRENT_PROCESS_ID;
    held.outName = FIXUP_NATIVE_SCRATCH_PAD + pid;
    held.errName = FIXUP_NATIVE_ERROR_PAD + pid;
    held.logName = FIXUP_NATIVE_EXEC_LOG_PREFIX + pid;
    replace(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH, new std::string(prefix + held.outName));
    replace(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH, new std::string(prefix + held.errName));
    replace(Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH,
            new std::string(prefix + held.logName));
}

namespace {

// Empties the held directory through its descriptor (it only ever holds
// pads; a directory a command made there goes with what it holds).
void emptyHeldDirectory(int dirFd) {
    const int fd = ::dup(dirFd);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        if (::unlinkat(dirFd, name.c_str(), 0) == 0 || errno != EISDIR) continue;
        const int sub = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) continue;
        emptyHeldDirectory(sub);
        ::close(sub);
        ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    }
}

}  // namespace

void sFixupUtil::disposeScratchPad() {
    ScratchDirectory& held = scratch();
    const std::string dir = held.path.empty() ? scratchDirectoryFromConstants() : held.path;
    int e = 0;
    if (held.fd >= 0) {
        emptyHeldDirectory(held.fd);
        // The name goes only while it still is the directory held: one put in
        // its place is somebody else's and stays.
        struct stat now {};
        if (::lstat(dir.c_str(), &now) == 0 &&
            (now.st_dev != held.st.st_dev || now.st_ino != held.st.st_ino)) {
            releaseScratch();
            replace(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH, nullptr);
            replace(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH, nullptr);
            replace(Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH, nullptr);
            return;
        }
    }
    if (!removeTree(dir, e)) {
        throw FixupException("disposeScratchPad() - Failed to cleanup the scratch pad directory " +
                             dir + " errno is " + integerToString(e));
    }
    releaseScratch();
    replace(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH, nullptr);
    replace(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH, nullptr);
    replace(Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH, nullptr);
}

}  // namespace vxl_fixup
