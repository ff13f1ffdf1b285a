#include "support/Shell.h"

#include <sys/wait.h>

#include <cstdio>

namespace vxl_test {

ShellRun runShell(const std::string& command) {
    ShellRun run{-1, ""};
    FILE* pipe = ::popen(("(" + command + ") 2>&1").c_str(), "re");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    if (status != -1) {
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return run;
}

}  // namespace vxl_test
