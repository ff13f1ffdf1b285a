#include "support/ChildProcess.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vxl_test {

int runWithFileSizeLimit(unsigned long limitBytes, int (*body)(void*), void* argument) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        limit.rlim_cur = limitBytes;
        limit.rlim_max = limitBytes;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(99);
        ::_exit(body(argument));
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace vxl_test
