// Command runner: every command of a run is written as a shell line with its
// standard output captured in the scratch pad and its standard error in the
// error pad (or /dev/null), both under the per-process scratch directory. A
// line that is one program named by path with quoted words is started
// without the shell (DirectStart.h); any other line goes through /bin/sh.
#include "util/sFixupUtil.h"

#include <sys/stat.h>
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

// The scratch directory initScratchPad set up, so disposeScratchPad removes
// that one even if the work directory constant changed in between.
std::string& scratchDirectory() {
    static std::string dir;
    return dir;
}

std::string scratchDirectoryFromConstants() {
    return orEmpty(Constants::WORK_DIR_PATH) + FIXUP_NATIVE_SCRATCH_DIR;
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
    if (command == nullptr || command->empty()) return -1;
    std::string line =
        *command + " >" + shellQuote(orEmpty(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH));
    if (discardStdErr) {
        line += " 2>/dev/null";
    } else {
        line += " 2>" + shellQuote(orEmpty(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH));
    }
    Trace::trace(source, "Executing command " + line, TRACE_DETAIL);
    const std::string* outPad = Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH;
    const std::string* errPad = Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH;
    // The pads hold this command's output or nothing: a pad an earlier
    // command left behind must never be reported as this one's.
    deleteFileIfExists(outPad);
    deleteFileIfExists(errPad);
    // Either way the same program runs with the same redirections and reports
    // the same status; starting it directly saves the shell process.
    int status = 0;
    std::vector<std::string> words;
    const bool direct = outPad != nullptr && (discardStdErr || errPad != nullptr) &&
                        directStartWords(*command, words) &&
                        startDirectly(words, *outPad, discardStdErr ? nullptr : errPad, status);
    int spawnError = 0;
    if (!direct && !startShell(line, status, spawnError)) {
        // No shell could start (a line beyond the argument size limit, no
        // memory): no output, and the error pad tells why, as the shell
        // would have.
        status = -1;
        const std::string why =
            std::string("/bin/sh: cannot start the command: ") + errorNumberToString(spawnError);
        Trace::trace(source, why, TRACE_DETAIL);
        int e = 0;
        if (outPad != nullptr) writeFileAtomically(*outPad, std::string(), e);
        if (errPad != nullptr) writeFileAtomically(*errPad, why + "\n", e);
    }
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
        readErrorPad(command, exitCode, result);
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
    deleteFileIfExists(Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH);
    Trace::trace(source, "Calling runCommandInternal for " + line, TRACE_DETAIL);
    return runCommand(&line, std::move(envList), result, discardStdErr);
}

namespace {
// Reads the lines of a pad; false (traced) when it cannot be opened.
bool readPad(const std::string& source, const std::string& path, std::vector<std::string>& lines) {
    int e = 0;
    if (!readFileLines(path, lines, e)) {
        Trace::trace(source, "Failed to open scratch pad file " + path, TRACE_DETAIL);
        return false;
    }
    return true;
}
}  // namespace

void sFixupUtil::readScratchPad(Result* result) {
    static const std::string source = "sFixupUtil::readScratchPad";
    const std::string& path = orEmpty(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH);
    std::vector<std::string> lines;
    if (!readPad(source, path, lines)) return;
    std::string* output = new std::string();
    for (const std::string& line : lines) {
        if (!output->empty()) output->push_back('\n');
        output->append(line);
    }
    Trace::trace(source, "Output of the command is =" + *output, TRACE_DETAIL);
    deleteFileIfExists(&path);
    if (result != nullptr) {
        result->setOutput(output);
    } else {
        delete output;
    }
}

void sFixupUtil::readErrorPad(const std::string* command, const int& exitCode, Result* result) {
    static const std::string source = "sFixupUtil::readErrorPad";
    const std::string& path = orEmpty(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH);
    std::vector<std::string> lines;
    if (!readPad(source, path, lines)) return;
    std::string details;
    for (const std::string& line : lines) details += line;
    deleteFileIfExists(&path);
    if (result == nullptr) return;
    if (details.empty()) {
        Trace::trace(source,
                     "Error pad has no failure details. Set the output from scratch pad as "
                     "native error");
        result->setNativeErrorDetails(command, exitCode, result->getOutput());
        return;
    }
    result->setNativeErrorDetails(command, exitCode, &details);
}

void sFixupUtil::addExecutableTracesToTraceFile(const std::string* label) {
    static const std::string source = "sFixupUtil::addExecutableTracesToTraceFile";
    const std::string* path = Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH;
    if (label == nullptr || path == nullptr) return;
    std::vector<std::string> lines;
    int e = 0;
    if (!readFileLines(*path, lines, e)) {
        Trace::trace(source, "Failed to open script trace file " + *path, TRACE_DETAIL);
        return;
    }
    Trace::trace(source, "Adding trace from execution of script " + *label, TRACE_DETAIL);
    for (const std::string& line : lines) {
        if (!line.empty()) Trace::trace(*label, line, TRACE_DETAIL);
    }
    deleteFileIfExists(path);
}

void sFixupUtil::initScratchPad() {
    static const std::string source = "sFixupUtil::initScratchPad";
    static const std::string failure =
        "initScratchPad() - Failed to initialize, scratch directory could not be created";
    const std::string dir = scratchDirectoryFromConstants();
    const int rc = ::mkdir(dir.c_str(), 0700);
    const int e = errno;
    Trace::trace(source, "initializing scratch pad", TRACE_DETAIL);
    if (rc != 0) {
        if (e != EEXIST) throw FixupException(failure);
        // The pads receive every command's output and are read back as its
        // result: reuse only a private directory of ours, never a link or a
        // directory someone else can write into.
        struct stat st {};
        if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
            (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            throw FixupException(failure);
        }
    }
    scratchDirectory() = dir;
    replace(Constants::CURRENT_PROCESS_ID, new std::string(integerToString(::getpid())));
    const std::string prefix = dir + getFilePathSeparator();
    const std::string& pid = *Constants::CURRENT_PROCESS_ID;
    replace(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH,
            new std::string(prefix + FIXUP_NATIVE_SCRATCH_PAD + pid));
    replace(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH,
            new std::string(prefix + FIXUP_NATIVE_ERROR_PAD + pid));
    replace(Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH,
            new std::string(prefix + FIXUP_NATIVE_EXEC_LOG_PREFIX + pid));
}

void sFixupUtil::disposeScratchPad() {
    const std::string dir =
        scratchDirectory().empty() ? scratchDirectoryFromConstants() : scratchDirectory();
    int e = 0;
    if (!removeTree(dir, e)) {
        throw FixupException("disposeScratchPad() - Failed to cleanup the scratch pad directory " +
                             dir + " errno is " + integerToString(e));
    }
    scratchDirectory().clear();
    replace(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH, nullptr);
    replace(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH, nullptr);
    replace(Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH, nullptr);
}

}  // namespace vxl_fixup
