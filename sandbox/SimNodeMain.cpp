// vxl-simnode: starts, enters and stops simulated nodes (SimNodes.h).
// Test-only; never installed. Root only.
//
//   vxl-simnode start N --dir DIR [--prefix NAME] [--sysctl KEY=VALUE]...
//   vxl-simnode exec --dir DIR NODE -- COMMAND [ARG]...
//   vxl-simnode list --dir DIR
//   vxl-simnode stop --dir DIR

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "NodeLayers.h"
#include "SimNodes.h"
#include "TestNode.h"

using namespace vxl_fixup;
using namespace vxl_fixup::simnode;
using node_detail::readWholeFile;
using node_detail::removeTree;

namespace {

constexpr int kReadyFd = 3;            // the keeper's end of its ready pipe
constexpr int kStartLimitMs = 120000;  // for all nodes of a start together
constexpr const char* kNodesFile = "/nodes";

const char* const kUsage =
    "usage: vxl-simnode start N --dir DIR [--prefix NAME] [--sysctl KEY=VALUE]...\n"
    "       vxl-simnode exec --dir DIR NODE -- COMMAND [ARG]...\n"
    "       vxl-simnode list --dir DIR\n"
    "       vxl-simnode stop --dir DIR\n";

int usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "vxl-simnode: " << problem << "\n";
    std::cerr << kUsage;
    return 2;
}

int failure(const std::string& problem) {
    std::cerr << "vxl-simnode: " << problem << "\n";
    return 1;
}

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool writeFile(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return false;
    size_t off = 0;
    while (off < text.size()) {
        const ssize_t n = ::write(fd, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        off += static_cast<size_t>(n);
    }
    return ::fchmod(fd, mode) == 0 && ::close(fd) == 0;
}

long long nowMs() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool alive(pid_t pid, unsigned long long start) { return pid > 0 && processStart(pid) == start; }

// The names a start wrote; empty when the folder holds no nodes of ours.
std::vector<std::string> nodeNames(const std::string& dir) {
    std::vector<std::string> names;
    const std::string text = readWholeFile(dir + kNodesFile).value_or(std::string());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        const std::string name = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (plainName(name)) names.push_back(name);
    }
    return names;
}

std::optional<NodeState> stateOf(const std::string& dir, const std::string& name) {
    std::optional<std::string> text = readWholeFile(dir + "/" + name + "/state");
    return text ? parseState(*text) : std::nullopt;
}

// ---- the node's side

struct StartPlan {
    std::string dir, program, hosts;
    std::vector<SimNode> nodes;
    KernelValues kernel;
};

// The node's payload: says it is ready and waits to be told to stop.
int keepNode() {
    sigset_t stop;
    sigemptyset(&stop);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop, s);
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);
    const char ready[] = "ready\n";
    if (::write(kReadyFd, ready, sizeof ready - 1) != static_cast<ssize_t>(sizeof ready - 1)) {
        return 1;
    }
    ::close(kReadyFd);
    int signal = 0;
    ::sigwait(&stop, &signal);
    return 0;
}

// The supervisor of one node, in a session of its own: holds the node copy
// until the node ends, then its layers go with it.
[[noreturn]] void supervise(const StartPlan& plan, const SimNode& self, int readyFd) {
    ::setsid();
    const std::string log = plan.dir + "/" + self.name + "/log";
    const int devNull = ::open("/dev/null", O_RDONLY);
    const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0600);
    if (devNull < 0 || logFd < 0 || ::dup2(devNull, 0) < 0 || ::dup2(logFd, 1) < 0 ||
        ::dup2(logFd, 2) < 0 || ::dup2(readyFd, kReadyFd) < 0) {
        ::_exit(1);
    }
    // Nothing of the caller's (its output pipes above all) may stay open for
    // as long as the node lives.
    ::syscall(SYS_close_range, static_cast<unsigned>(kReadyFd + 1), ~0U, 0U);
    ::setenv("VXL_NODE_TMPDIR", (plan.dir + "/layers").c_str(), 0);

    TestNode node;
    node.setHostname(self.name).keepNetwork().untilStopped();
    node.addFile("/etc/hostname", self.name + "\n");
    node.addFile("/etc/hosts", plan.hosts);
    // The nodes' own folder is no business of theirs.
    node.hidePath(plan.dir);
    std::string sysctlPaths[] = {"/sbin/sysctl", "/usr/sbin/sysctl"};
    char first[PATH_MAX], second[PATH_MAX];
    const bool same = ::realpath(sysctlPaths[0].c_str(), first) != nullptr &&
                      ::realpath(sysctlPaths[1].c_str(), second) != nullptr &&
                      std::strcmp(first, second) == 0;
    for (const std::string& path : sysctlPaths) {
        FakeSysctl& sysctl = node.addFakeSysctl(path);
        for (const auto& [key, value] : plan.kernel) sysctl.set(key, value);
        if (same) break;
    }
    bool ran = false;
    {
        // The node's layers go with the last copy of its result.
        const NodeResult result = node.runFunction(keepNode);
        ran = result.ran();
        if (!ran) {
            std::cerr << "node " << self.name << " did not start: " << result.setupError << "\n";
        } else {
            std::cerr << "node " << self.name << " ended (" << result.exitCode << ")\n"
                      << result.stderrText;
        }
    }
    std::cerr.flush();
    ::_exit(ran ? 0 : 1);
}

// ---- commands

int stopNodes(const std::string& dir);

bool emptyFolder(const std::string& dir) {
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) return false;
    bool empty = true;
    while (struct dirent* e = ::readdir(listing)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) empty = false;
    }
    ::closedir(listing);
    return empty;
}

// A folder of our own: made here (the last component only), or an empty
// one of root's that nobody else can write.
bool takeFolder(const std::string& dir, std::string* error) {
    if (::mkdir(dir.c_str(), 0700) == 0) return true;
    if (errno != EEXIST) {
        *error = errnoText("cannot create " + dir);
        return false;
    }
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0 ||
        (st.st_mode & 022) != 0) {
        *error = dir + " exists and is not a directory of root's that only root can write";
        return false;
    }
    if (!emptyFolder(dir)) {
        *error = dir + " is not empty (stop the nodes in it first, or name a new folder)";
        return false;
    }
    return ::chmod(dir.c_str(), 0700) == 0;
}

int startNodes(StartPlan& plan) {
    std::string error;
    if (!takeFolder(plan.dir, &error)) return failure(error);
    std::string names;
    for (const SimNode& n : plan.nodes) names += n.name + "\n";
    if (!writeFile(plan.dir + kNodesFile, names, 0600) ||
        ::mkdir((plan.dir + "/layers").c_str(), 0700) != 0) {
        return failure(errnoText("cannot write in " + plan.dir));
    }
    plan.hosts =
        hostsText(readWholeFile("/etc/hosts").value_or("127.0.0.1 localhost\n"), plan.nodes);
    // One network for all nodes, made here and never the machine's: the
    // nodes keep it, and it ends with the last of them.
    if (::unshare(CLONE_NEWNET) != 0) return failure(errnoText("cannot make the nodes' network"));

    struct Started {
        pid_t supervisor = -1;
        int ready = -1;
        bool isReady = false;
    };
    std::vector<Started> started(plan.nodes.size());
    std::cout.flush();
    std::cerr.flush();
    for (size_t i = 0; i < plan.nodes.size(); ++i) {
        const std::string home = plan.dir + "/" + plan.nodes[i].name;
        int pipeFds[2];
        if (::mkdir(home.c_str(), 0700) != 0 || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
            error = errnoText("cannot prepare " + home);
            break;
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipeFds[0]);
            supervise(plan, plan.nodes[i], pipeFds[1]);
        }
        ::close(pipeFds[1]);
        if (pid < 0) {
            ::close(pipeFds[0]);
            error = errnoText("fork");
            break;
        }
        started[i].supervisor = pid;
        started[i].ready = pipeFds[0];
    }
    // Each node says "ready" from inside once it runs; a node that could not
    // start closes its pipe without a word.
    const long long deadline = nowMs() + kStartLimitMs;
    size_t waiting = 0;
    for (const auto& s : started) waiting += s.ready >= 0 ? 1 : 0;
    while (error.empty() && waiting > 0) {
        std::vector<struct pollfd> fds;
        std::vector<size_t> index;
        for (size_t i = 0; i < started.size(); ++i) {
            if (started[i].ready >= 0 && !started[i].isReady) {
                fds.push_back({started[i].ready, POLLIN, 0});
                index.push_back(i);
            }
        }
        const long long left = deadline - nowMs();
        const int rc = ::poll(fds.data(), fds.size(), left > 0 ? static_cast<int>(left) : 0);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) {
            error = "the nodes did not start within " + std::to_string(kStartLimitMs / 1000) + " s";
            break;
        }
        for (size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents == 0) continue;
            Started& s = started[index[k]];
            char buf[16];
            const ssize_t n = ::read(s.ready, buf, sizeof buf);
            if (n > 0) {
                s.isReady = true;
                --waiting;
            } else if (n == 0 || errno != EINTR) {
                const std::string& name = plan.nodes[index[k]].name;
                error = "node " + name + " did not start: " +
                        readWholeFile(plan.dir + "/" + name + "/log").value_or("(no log)");
                break;
            }
        }
    }
    for (auto& s : started) {
        if (s.ready >= 0) ::close(s.ready);
    }

    // Its processes, each checked by its start time from now on: the
    // supervisor's child enforces the node's life, its child is the node's
    // init and the init's child the keeper.
    for (size_t i = 0; error.empty() && i < plan.nodes.size(); ++i) {
        const SimNode& node = plan.nodes[i];
        const std::string home = plan.dir + "/" + node.name;
        NodeState state;
        state.supervisor = started[i].supervisor;
        state.address = node.address;
        const std::vector<pid_t> outer = node_detail::childrenOf(state.supervisor);
        const std::vector<pid_t> init =
            outer.size() == 1 ? node_detail::childrenOf(outer[0]) : outer;
        const std::vector<pid_t> keeper =
            init.size() == 1 ? node_detail::childrenOf(init[0]) : init;
        if (outer.size() != 1 || init.size() != 1 || keeper.size() != 1) {
            error = "cannot find the processes of node " + node.name;
            break;
        }
        state.init = init[0];
        state.keeper = keeper[0];
        state.supervisorStart = processStart(state.supervisor);
        state.initStart = processStart(state.init);
        state.keeperStart = processStart(state.keeper);
        if (state.supervisorStart == 0 || state.initStart == 0 || state.keeperStart == 0 ||
            !writeFile(home + "/state", formatState(state), 0600) ||
            ::symlink(("/proc/" + std::to_string(state.init) + "/root").c_str(),
                      (home + "/root").c_str()) != 0 ||
            !writeFile(home + "/chroot-exe", chrootExeScript(plan.program, plan.dir, node.name),
                       0700)) {
            error = errnoText("cannot record node " + node.name);
        }
    }
    if (error.empty() &&
        (!writeFile(plan.dir + "/hosts", nodeLines(plan.nodes), 0644) ||
         !writeFile(plan.dir + "/inventory.ini", inventoryText(plan.dir, plan.nodes), 0600))) {
        error = errnoText("cannot write the inventory in " + plan.dir);
    }
    if (!error.empty()) {
        // Whatever started goes again; without a state the supervisors are
        // ended directly, which takes their nodes with them.
        for (size_t i = 0; i < started.size(); ++i) {
            const std::string home = plan.dir + "/" + plan.nodes[i].name;
            if (started[i].supervisor > 0 && !stateOf(plan.dir, plan.nodes[i].name)) {
                ::kill(started[i].supervisor, SIGTERM);
            }
        }
        for (auto& s : started) {
            if (s.supervisor > 0) ::waitpid(s.supervisor, nullptr, 0);
        }
        stopNodes(plan.dir);
        return failure(error);
    }
    std::cout << "started " << plan.nodes.size() << " nodes in " << plan.dir << "; inventory "
              << plan.dir << "/inventory.ini\n";
    return 0;
}

int execInNode(const std::string& dir, const std::string& name, char** command) {
    std::optional<NodeState> state = stateOf(dir, name);
    if (!state) return failure("no node " + name + " in " + dir);
    if (!alive(state->init, state->initStart)) return failure("node " + name + " is not running");
    const std::string target = std::to_string(state->init);
    std::vector<const char*> argv = {"nsenter", "--target", target.c_str(), "--mount", "--uts",
                                     "--ipc",   "--net",    "--pid",        "--root",  "--wd",
                                     "--"};
    for (char** word = command; *word != nullptr; ++word) argv.push_back(*word);
    argv.push_back(nullptr);
    ::execvp("nsenter", const_cast<char* const*>(argv.data()));
    return failure(errnoText("cannot run nsenter"));
}

int listNodes(const std::string& dir) {
    const std::vector<std::string> names = nodeNames(dir);
    if (names.empty()) return failure("no nodes in " + dir);
    for (const std::string& name : names) {
        std::optional<NodeState> state = stateOf(dir, name);
        const bool running = state && alive(state->init, state->initStart);
        std::cout << name << " " << (state ? state->address : std::string("-")) << " "
                  << (running ? "running" : "stopped") << "\n";
    }
    return 0;
}

// Waits until none of the supervisors runs, up to limitMs; true when done.
bool awaitSupervisors(const std::vector<NodeState>& states, int limitMs) {
    const long long deadline = nowMs() + limitMs;
    for (;;) {
        bool any = false;
        for (const NodeState& s : states) any = any || alive(s.supervisor, s.supervisorStart);
        if (!any) return true;
        if (nowMs() >= deadline) return false;
        ::usleep(20000);
    }
}

int stopNodes(const std::string& dir) {
    const std::vector<std::string> names = nodeNames(dir);
    struct stat st;
    if (names.empty() || ::lstat((dir + kNodesFile).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return failure("no nodes in " + dir);
    }
    std::vector<NodeState> states;
    for (const std::string& name : names) {
        if (std::optional<NodeState> s = stateOf(dir, name)) states.push_back(*s);
    }
    // The keeper ends, the node's init reports it and the whole node goes
    // with the init (a PID namespace of its own); the supervisor then removes
    // the node's layers and ends.
    for (const NodeState& s : states) {
        if (alive(s.keeper, s.keeperStart)) ::kill(s.keeper, SIGTERM);
    }
    if (!awaitSupervisors(states, 20000)) {
        for (const NodeState& s : states) {
            if (alive(s.init, s.initStart)) ::kill(s.init, SIGKILL);
        }
        if (!awaitSupervisors(states, 10000)) {
            for (const NodeState& s : states) {
                if (alive(s.supervisor, s.supervisorStart)) ::kill(s.supervisor, SIGKILL);
            }
            if (!awaitSupervisors(states, 5000)) {
                return failure("some nodes in " + dir + " would not stop; the folder stays");
            }
        }
    }
    if (!removeTree(dir)) return failure(errnoText("cannot remove " + dir));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage("");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::cout << kUsage;
        return 0;
    }
    std::string dir, prefix = "node";
    int count = 0;
    KernelValues kernel = defaultKernelValues();
    std::vector<std::string> words;
    char** rest = nullptr;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            rest = argv + i + 1;
            break;
        }
        const bool hasValue = i + 1 < argc;
        if (arg == "--dir" && hasValue) {
            dir = argv[++i];
        } else if (arg == "--prefix" && hasValue && command == "start") {
            prefix = argv[++i];
        } else if (arg == "--sysctl" && hasValue && command == "start") {
            std::string error;
            if (!addKernelValue(kernel, argv[++i], &error)) return usage(error);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option or missing value: " + arg);
        } else {
            words.push_back(arg);
        }
    }
    if (!plainFolder(dir)) {
        return usage("--dir needs an absolute path made of A-Z a-z 0-9 _ . / - (got '" + dir +
                     "')");
    }
    if (::geteuid() != 0) return failure("simulated nodes need root");

    if (command == "start") {
        if (words.size() != 1 || rest) return usage("start takes the number of nodes");
        char* end = nullptr;
        count = static_cast<int>(std::strtol(words[0].c_str(), &end, 10));
        StartPlan plan;
        plan.nodes = simNodes(*end == '\0' ? count : 0, prefix);
        if (plan.nodes.empty()) {
            return usage("start needs 1 to " + std::to_string(kMaxNodes) +
                         " nodes and a prefix of letters, digits and '-'");
        }
        char self[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return failure(errnoText("cannot find this program"));
        plan.program.assign(self, static_cast<size_t>(n));
        plan.dir = dir;
        plan.kernel = kernel;
        return startNodes(plan);
    }
    if (command == "exec") {
        if (words.size() != 1 || !rest || *rest == nullptr) {
            return usage("exec takes a node name, then -- and a command");
        }
        if (!plainName(words[0])) return usage("bad node name '" + words[0] + "'");
        return execInNode(dir, words[0], rest);
    }
    if (!words.empty() || rest) return usage(command + " takes only --dir");
    if (command == "list") return listNodes(dir);
    if (command == "stop") return stopNodes(dir);
    return usage("unknown command '" + command + "'");
}
