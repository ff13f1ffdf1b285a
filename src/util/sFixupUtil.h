// Implementation of the command runner and the file-system operations behind
// the FixupUtil facade. Task code calls FixupUtil, never this class.
#pragma once

#include <string>
#include <vector>

namespace vxl_fixup {

class Result;

class sFixupUtil {
public:
    // Command runner. Each returns the decoded exit code, or -1 (nothing run,
    // nothing traced, result untouched) for a null or empty command. A null
    // result is replaced by a private one. Document texts must already be
    // quoted (shellQuote) by the caller; the runner quotes the executable
    // path. A line of quoted words naming a program by path starts that
    // program without a shell (DirectStart.h), with the same outcome. Needs
    // initScratchPad first: without its pads a command does not run.
    static int runCommand(const std::string* command, Result* result, bool discardStdErr);
    static int runCommand(const std::string* command, std::vector<const std::string*> envList,
                          Result* result, bool discardStdErr);
    static int runExe(const std::string* exe, std::vector<const std::string*> args,
                      Result* result, bool discardStdErr);
    static int runExe(const std::string* exe, std::vector<const std::string*> args,
                      std::vector<const std::string*> envList, Result* result,
                      bool discardStdErr);
    // Creates (0700) or safely reuses the scratch directory, holds it open
    // for the run (pads are made and read only through it) and sets the pad
    // paths; throws FixupException when it cannot.
    static void initScratchPad();
    // Removes the scratch directory (no shell, links not followed; a name
    // that no longer leads to the held directory is left alone) and clears
    // the pad paths; throws FixupException, paths kept, when it cannot.
    static void disposeScratchPad();
    static void addExecutableTracesToTraceFile(const std::string* label);

    static int runCommandInternal(const std::string* command, bool discardStdErr);
    static void readScratchPad(Result* result);
    static void readErrorPad(const std::string* command, const int& exitCode, Result* result);
    // readErrorPad for a command signal ended (0: it exited): the native
    // error then says "killed by signal N" beside what the command wrote.
    static void recordFailure(const std::string* command, const int& exitCode, int signal,
                              Result* result);

    // File system.
    static bool checkFileExistence(const std::string* path);
    static bool checkDirectoryExistence(const std::string* path);
    static bool createDirectory(const std::string* path, const std::string& mode, Result* result);
    static bool changeFilePermissions(const std::string* path, const std::string& mode,
                                      Result* result);
    static bool changeFileOwnerShip(const std::string* path, const std::string& user,
                                    const std::string& group, Result* result);
    static bool renameFile(const std::string* oldPath, const std::string* newPath,
                           Result* result);
    static void deleteFileIfExists(const std::string* path);
    static std::vector<const std::string*> listFilesUnderDirectory(const std::string* dir);
    static std::string* getCurrentDirPath();
    static std::string argListToString(std::vector<const std::string*> args);
};

}  // namespace vxl_fixup
