#include "util/DirectStart.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "util/ShellQuote.h"

extern char** environ;

namespace vxl_fixup {

namespace {

bool isNameStart(char c) { return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }

// Length of the shell variable name at the start of text (0: none).
std::size_t nameLength(const char* text) {
    if (!isNameStart(text[0])) return 0;
    std::size_t n = 1;
    while (isNameChar(text[n])) ++n;
    return n;
}

bool sameFile(const char* a, const char* b) {
    struct stat sa {
    }, sb{};
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

bool directStartWords(const std::string& command, std::vector<std::string>& words) {
    words.clear();
    const std::size_t first = command.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    const std::size_t last = command.find_last_not_of(' ');
    std::size_t begin = first;
    std::size_t end = last + 1;
    const bool opens = command[first] == '(';
    const bool closes = command[last] == ')';
    if (opens != closes) return false;
    if (opens) {
        ++begin;
        --end;
        if (begin >= end) return false;
    }
    const std::string inner = command.substr(begin, end - begin);
    if (!splitShellWords(inner, words) || words.empty()) return false;
    // A leading NAME= makes the word an assignment, not a program: only the
    // plain characters before the first quote can spell it.
    const std::size_t start = inner.find_first_not_of(' ');
    const std::size_t named = nameLength(inner.c_str() + start);
    if (named > 0 && inner[start + named] == '=') return false;
    if (words[0].find('/') == std::string::npos) return false;
    return true;
}

bool shellEnvironment(std::vector<std::string>& entries) {
    entries.clear();
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
    // Name to value, in the order names first appear; the shell keeps the
    // last value of a repeated name.
    std::vector<std::string> names;
    std::map<std::string, std::string> values;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::size_t n = nameLength(*entry);
        if (n == 0 || (*entry)[n] != '=') continue;
        std::string name(*entry, n);
        if (values.find(name) == values.end()) names.push_back(name);
        values[name] = *entry + n + 1;
    }
    const auto reset = [&values](const std::string& name, const std::string& value) {
        auto found = values.find(name);
        if (found != values.end()) found->second = value;
    };
    reset("IFS", " \t\n");
    reset("OPTIND", "1");
    reset("PPID", std::to_string(::getpid()));
    auto pwd = values.find("PWD");
    if (pwd == values.end()) {
        names.push_back("PWD");
        values["PWD"] = cwd;
    } else if (pwd->second.empty() || pwd->second[0] != '/' ||
               !sameFile(pwd->second.c_str(), ".")) {
        pwd->second = cwd;
    }
    entries.reserve(names.size());
    for (const std::string& name : names) entries.push_back(name + "=" + values[name]);
    return true;
}

namespace {

// Starts the program at path with argv (environment envp; standard output
// and error on out and err) as system() starts its shell: SIGCHLD held back
// from this thread while the child runs, so a handler of the host cannot reap
// it first; the child starts with this thread's mask, and SIGINT and SIGQUIT
// as system() leaves them: ignored when the host ignores them, at their
// defaults when it handles them (a handler never survives the exec). True
// with the raw wait status (-1 when the child could not be waited for); false
// with spawnError set when nothing started.
bool spawnAndWait(const char* path, char* const argv[], char* const envp[], int out, int err,
                  int& waitStatus, int& spawnError) {
    sigset_t childSignal, previous;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    ::pthread_sigmask(SIG_BLOCK, &childSignal, &previous);

posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    posix_spawnattr_setsigmask(&attributes, &previous);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    spawnError = ::posix_spawn(&pid, path, &actions, &attributes, argv, envp);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);

    if (spawnError == 0) {
        pid_t r;
        do {
            r = ::waitpid(pid, &waitStatus, 0);
        } while (r < 0 && errno == EINTR);
        if (r != pid) waitStatus = -1;
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return spawnError == 0;
}

}  // namespace

bool startDirectly(const std::vector<std::string>& words, int out, int err, int& status,
                   int& signal) {
    signal = 0;
    if (words.empty() || out <= STDERR_FILENO || err <= STDERR_FILENO) return false;
    std::vector<std::string> environment;
    if (!shellEnvironment(environment)) return false;

    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    int waited = 0, spawnError = 0;
    if (!spawnAndWait(argv[0], argv.data(), envp.data(), out, err, waited, spawnError)) {
        return false;
    }
    if (waited != -1 && WIFSIGNALED(waited)) {
        signal = WTERMSIG(waited);
        status = (128 + signal) << 8;
    } else {
        status = waited;
    }
    return true;
}

bool startShell(const std::string& line, int out, int err, int& status, int& spawnError) {
    if (out <= STDERR_FILENO || err <= STDERR_FILENO) {
        spawnError = EBADF;
        return false;
    }
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>(line.c_str()), nullptr};
    return spawnAndWait("/bin/sh", argv, environ, out, err, status, spawnError);
}

}  // namespace vxl_fixup
