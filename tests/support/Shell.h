// Running a shell command line, or a piece of a test, in another process.
#pragma once

#include <string>

namespace vxl_test {

struct ShellRun {
    int exitCode;        // 128+signal when killed; -1 when it could not start
    std::string output;  // standard output and standard error together
};

// Runs "/bin/sh -c command" with its standard error joined to its output.
ShellRun runShell(const std::string& command);

// Runs body in a forked child, its file-size limit fileSizeLimit when not 0
// (SIGXFSZ ignored, so writes past it fail with EFBIG); the child's exit
// code, or -1. What the child changes in its process stays there.
int runInChild(int (*body)(void*), void* argument, unsigned long fileSizeLimit = 0);

}  // namespace vxl_test
