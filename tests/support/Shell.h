// Running a shell command line from a test and keeping what it printed.
#pragma once

#include <string>

namespace vxl_test {

struct ShellRun {
    int exitCode;        // 128+signal when killed; -1 when it could not start
    std::string output;  // standard output and standard error together
};

// Runs "/bin/sh -c command" with its standard error joined to its output.
ShellRun runShell(const std::string& command);

}  // namespace vxl_test
