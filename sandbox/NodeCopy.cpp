#include "NodeCopy.h"

#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>

#include "NodeLayers.h"
#include "NodeTools.h"

namespace vxl_fixup {

using node_detail::DiskLayer;
using node_detail::LayerEntry;
using node_detail::LayerStack;
using node_detail::MemoryLayer;

struct NodeCopy::Fixture {
    enum class Kind { File, Directory, Symlink, Hidden };
    Kind kind;
    std::string path;
    std::string content;  // file bytes or symlink target
    mode_t mode;
    uid_t uid;
    gid_t gid;
};

namespace node_detail {

// One run's temporary folder and the layers that describe it; the folder
// goes when the last result referring to it does.
class NodeRun {
public:
    NodeRun(std::string dir, MemoryLayer fixtures)
        : dir_(std::move(dir)),
          fixtures_(std::move(fixtures)),
          upper_(dir_ + "/upper", DiskLayer::Role::OverlayUpper),
          machine_("/", DiskLayer::Role::MachineRoot) {}
    ~NodeRun() { removeTree(dir_); }
    NodeRun(const NodeRun&) = delete;
    NodeRun& operator=(const NodeRun&) = delete;

    const std::string dir_;
    const MemoryLayer fixtures_;
    const DiskLayer upper_;
    const DiskLayer machine_;
    const LayerStack before_{{&fixtures_, &machine_}};
    const LayerStack after_{{&upper_, &fixtures_, &machine_}};
};

}  // namespace node_detail

using node_detail::NodeRun;

namespace {

constexpr long kOverlayMagic = 0x794c7630;
constexpr int kExceptionExit = 250;

std::mutex gBaseMutex;
std::string gBase;  // folder the runs' temporary folders go in, once known

std::vector<std::string> baseCandidates() {
    if (const char* env = std::getenv("VXL_NODE_TMPDIR"); env && *env) return {env};
    return {"/tmp", "/var/tmp", "/dev/shm"};
}

// An overlay upper layer cannot itself live on overlayfs.
bool usableBase(const std::string& dir, std::string* why) {
    struct statfs fs;
    if (::statfs(dir.c_str(), &fs) != 0 || ::access(dir.c_str(), W_OK) != 0) {
        *why = dir + ": " + std::strerror(errno);
        return false;
    }
    if (static_cast<long>(fs.f_type) == kOverlayMagic) {
        *why = dir + " is on overlayfs";
        return false;
    }
    return true;
}

std::string nodeBase(std::string* why) {
    std::lock_guard<std::mutex> lock(gBaseMutex);
    if (!gBase.empty()) return gBase;
    for (const auto& c : baseCandidates()) {
        if (usableBase(c, why)) return c;
    }
    return {};
}

LayerEntry dirEntry(mode_t mode, uid_t uid, gid_t gid) {
    LayerEntry e;
    e.kind = LayerEntry::Kind::Directory;
    e.mode = mode & 07777;
    e.uid = uid;
    e.gid = gid;
    return e;
}

LayerEntry fileEntry(mode_t mode, uid_t uid = 0, gid_t gid = 0) {
    LayerEntry e = dirEntry(mode, uid, gid);
    e.kind = LayerEntry::Kind::Regular;
    return e;
}

// Builds the fixture layer: every fixture at its resolved path, with the
// directories above it copied from what the node would otherwise show, so
// the merged tree keeps the machine's modes and owners.
class FixturePlan {
public:
    FixturePlan() : machine_("/", DiskLayer::Role::MachineRoot), stack_({&layer_, &machine_}) {}

    std::optional<std::string> place(const std::string& path, LayerEntry entry, std::string content,
                                     std::string* error) {
        std::optional<std::string> canon = stack_.resolve(path);
        if (!canon || *canon == "/") {
            *error = "cannot place a fixture at '" + path + "'";
            return std::nullopt;
        }
        if (!makeParents(*canon, error)) return std::nullopt;
        if (entry.kind != LayerEntry::Kind::Directory && !layer_.list(*canon).empty()) {
            *error = "fixture '" + path + "' replaces a directory holding other fixtures";
            return std::nullopt;
        }
        layer_.put(*canon, entry, std::move(content));
        return canon;
    }

    // Makes sure a directory exists at path; returns its resolved path.
    std::optional<std::string> directory(const std::string& path, std::string* error) {
        std::optional<std::string> canon = stack_.resolve(path);
        if (!canon) {
            *error = "bad node path '" + path + "'";
            return std::nullopt;
        }
        if (stack_.lookup(*canon).kind == LayerEntry::Kind::Directory) return canon;
        return place(path, dirEntry(0755, 0, 0), {}, error);
    }

    mode_t modeOf(const std::string& canon) const { return stack_.lookup(canon).mode; }
    MemoryLayer& layer() { return layer_; }

private:
    bool makeParents(const std::string& canon, std::string* error) {
        std::string prefix;
        std::vector<std::string> parts = node_detail::splitPath(canon);
        for (size_t i = 0; i + 1 < parts.size(); ++i) {
            prefix += "/" + parts[i];
            LayerEntry own = layer_.stat(prefix);
            if (own.kind == LayerEntry::Kind::Directory) continue;
            if (own.kind != LayerEntry::Kind::Absent) {
                *error = "fixture '" + canon + "' lies under the fixture file '" + prefix + "'";
                return false;
            }
            LayerEntry seen = machine_.stat(prefix);
            if (seen.kind == LayerEntry::Kind::Directory) {
                layer_.put(prefix, dirEntry(seen.mode, seen.uid, seen.gid));
            } else {
                layer_.put(prefix, dirEntry(0755, 0, 0));
            }
        }
        return true;
    }

    MemoryLayer layer_;
    DiskLayer machine_;
    LayerStack stack_;
};

// ---- the forked side. Everything it needs is prepared before fork; it
// reports through the status file and always ends with _exit.

struct ChildPlan {
    pid_t parent = 0;
    std::string runDir, fixtures, upper, work, merged;
    std::string overlayOptions, fixtureOptions;
    struct Op {
        std::string hostPath;
        LayerEntry entry;
        const std::string* content;
    };
    std::vector<Op> ops;
    std::vector<std::pair<std::string, std::string>> tmpfs;  // target, options
    std::optional<std::string> hostname;
    std::vector<std::string> env;
    std::vector<char*> envp;
    const std::string* command = nullptr;
    const std::function<int()>* fn = nullptr;
    int outFd = -1, errFd = -1, statusFd = -1;
    int timeoutMs = 0;  // negative: no limit
    bool viewMachine = false;
    bool keepNetwork = false;
    std::vector<std::string> sysFiles;  // writable copies in the upper layer, bound over /sys
};

void report(int fd, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void report(int fd, const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    size_t len = std::min(static_cast<size_t>(n), sizeof buf - 1);
    while (::write(fd, buf, len) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void fail(const ChildPlan& p, const char* step, const std::string& what) {
    report(p.statusFd, "error: %s %s: %s\n", step, what.c_str(), std::strerror(errno));
    ::_exit(0);
}

bool writeAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::write(fd, data.data() + off, data.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

void writeFixtures(const ChildPlan& p) {
    for (const auto& op : p.ops) {
        const char* hp = op.hostPath.c_str();
        const LayerEntry& e = op.entry;
        switch (e.kind) {
            case LayerEntry::Kind::Directory:
                if (::mkdir(hp, 0700) != 0 && errno != EEXIST) fail(p, "mkdir", op.hostPath);
                if (::chown(hp, e.uid, e.gid) != 0 || ::chmod(hp, e.mode) != 0) {
                    fail(p, "chmod", op.hostPath);
                }
                if (e.opaque && ::setxattr(hp, "trusted.overlay.opaque", "y", 1, 0) != 0) {
                    fail(p, "setxattr", op.hostPath);
                }
                break;
            case LayerEntry::Kind::Regular: {
                int fd = ::open(hp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                if (fd < 0) fail(p, "create", op.hostPath);
                if (!writeAll(fd, *op.content) || ::fchown(fd, e.uid, e.gid) != 0 ||
                    ::fchmod(fd, e.mode) != 0) {
                    fail(p, "write", op.hostPath);
                }
                ::close(fd);
                break;
            }
            case LayerEntry::Kind::Symlink:
                if (::symlink(op.content->c_str(), hp) != 0) fail(p, "symlink", op.hostPath);
                break;
            case LayerEntry::Kind::Whiteout:
                if (::mknod(hp, S_IFCHR, makedev(0, 0)) != 0) fail(p, "whiteout", op.hostPath);
                break;
            default:
                break;
        }
    }
}

void mountOrFail(const ChildPlan& p, const char* src, const std::string& target, const char* type,
                 unsigned long flags, const char* data) {
    if (::mount(src, target.c_str(), type, flags, data) != 0) fail(p, "mount", target);
}

// Kernel settings under /proc/sys are mostly not namespaced: the node sees
// them read-only and tests use the fake sysctl instead.
void readOnlyBind(const ChildPlan& p, const std::string& source, const std::string& target) {
    mountOrFail(p, source.c_str(), target, nullptr, MS_BIND, nullptr);
    mountOrFail(p, nullptr, target, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
}

void loopbackUp() {
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return;
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(s, SIOCGIFFLAGS, &ifr) == 0) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
        ::ioctl(s, SIOCSIFFLAGS, &ifr);
    }
    ::close(s);
}

[[noreturn]] void runPayload(const ChildPlan& p) {
    ::setsid();
    // In the machine's view no namespace ends the payload with its init.
    if (p.viewMachine) ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0 && devNull != 0) {
        ::dup2(devNull, 0);
        ::close(devNull);
    }
    ::dup2(p.outFd, 1);
    ::dup2(p.errFd, 2);
    sigset_t all;
    sigemptyset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    if (p.command) {
        for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
        ::syscall(SYS_close_range, 3U, ~0U, 0U);
        const char* argv[] = {"sh", "-c", p.command->c_str(), nullptr};
        ::execve("/bin/sh", const_cast<char* const*>(argv), p.envp.data());
        report(2, "cannot run /bin/sh: %s\n", std::strerror(errno));
        ::_exit(127);
    }
    ::clearenv();
    for (const auto& kv : p.env) {
        size_t eq = kv.find('=');
        ::setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
    int rc = kExceptionExit;
    try {
        rc = (*p.fn)();
    } catch (const std::exception& e) {
        report(2, "uncaught exception: %s\n", e.what());
    } catch (...) {
        report(2, "uncaught exception\n");
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(rc & 0xff);
}

bool waitFor(pid_t pid, int timeoutMs, int* status);

// Without a PID namespace of its own the node's processes would outlive the
// payload. Orphans come to this process (a child subreaper), so killing its
// children until none is left ends them all.
void endDescendants() {
    for (std::vector<pid_t> children = node_detail::childrenOf(::getpid()); !children.empty();
         children = node_detail::childrenOf(::getpid())) {
        for (pid_t c : children) ::kill(c, SIGKILL);
        for (pid_t c : children) {
            while (::waitpid(c, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
}

// The payload in the machine's view: this process enforces the time limit
// and ends what the payload left behind.
[[noreturn]] void awaitPayloadInMachineView(const ChildPlan& p, pid_t payload) {
    int status = 0;
    const bool ended = waitFor(payload, p.timeoutMs, &status);
    if (!ended) {
        ::kill(payload, SIGKILL);
        while (::waitpid(payload, &status, 0) < 0 && errno == EINTR) {
        }
        report(p.statusFd, "timeout\n");
    }
    endDescendants();
    if (ended && WIFSIGNALED(status)) {
        report(p.statusFd, "signal %d\n", WTERMSIG(status));
    } else if (ended) {
        report(p.statusFd, "exit %d\n", WEXITSTATUS(status));
    }
    ::_exit(0);
}

// PID 1 of the node (in the machine's view, the reaper of the node's
// processes): builds the mounts, enters the tree, starts the payload and
// reaps until it ends; leaving kills whatever else still runs.
[[noreturn]] void runInit(const ChildPlan& p) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (p.viewMachine) ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const int network = p.keepNetwork ? 0 : CLONE_NEWNET;
    if (::unshare(CLONE_NEWNS | CLONE_NEWIPC | CLONE_NEWUTS | network) != 0) {
        fail(p, "unshare", "mount/ipc/uts/net");
    }
    // Nothing below may propagate back to the machine.
    mountOrFail(p, nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    mountOrFail(p, "vxlnode-fixtures", p.fixtures, "tmpfs", MS_NOSUID, p.fixtureOptions.c_str());
    writeFixtures(p);
    // A throwaway upper layer needs no syncs ("volatile", Linux 5.10+); older
    // kernels refuse the option and get the plain mount.
    std::string volatileOptions = p.overlayOptions + ",volatile";
    if (::mount("vxlnode", p.merged.c_str(), "overlay", 0, volatileOptions.c_str()) != 0) {
        mountOrFail(p, "vxlnode", p.merged, "overlay", 0, p.overlayOptions.c_str());
    }
    mountOrFail(p, "/dev", p.merged + "/dev", nullptr, MS_BIND | MS_REC, nullptr);
    mountOrFail(p, "vxlnode-shm", p.merged + "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV,
                "mode=1777,size=64m");
    mountOrFail(p, "proc", p.merged + "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    readOnlyBind(p, p.merged + "/proc/sys", p.merged + "/proc/sys");
    struct stat st;
    if (::stat((p.merged + "/proc/sysrq-trigger").c_str(), &st) == 0) {
        readOnlyBind(p, p.merged + "/proc/sysrq-trigger", p.merged + "/proc/sysrq-trigger");
    }
    if (p.viewMachine) {
        // The machine's /sys, read-only, with the writable copies over it.
        readOnlyBind(p, "/sys", p.merged + "/sys");
        for (const auto& f : p.sysFiles) {
            mountOrFail(p, (p.upper + f).c_str(), p.merged + f, nullptr, MS_BIND, nullptr);
        }
    }
    if (::stat((p.merged + p.runDir).c_str(), &st) == 0) {
        // The run's own folder is part of the machine's tree; keep it out of view.
        mountOrFail(p, "vxlnode-hidden", p.merged + p.runDir, "tmpfs", MS_RDONLY,
                    "size=4k,mode=0700");
    }
    for (const auto& [target, options] : p.tmpfs) {
        mountOrFail(p, "vxlnode-tmpfs", target, "tmpfs", MS_NOSUID | MS_NODEV, options.c_str());
    }
    if (p.hostname && ::sethostname(p.hostname->data(), p.hostname->size()) != 0) {
        fail(p, "sethostname", *p.hostname);
    }
    loopbackUp();
    if (::chroot(p.merged.c_str()) != 0 || ::chdir("/") != 0) fail(p, "chroot", p.merged);
    pid_t payload = ::fork();
    if (payload < 0) fail(p, "fork", "payload");
    if (payload == 0) runPayload(p);
    if (p.viewMachine) awaitPayloadInMachineView(p, payload);
    for (;;) {
        int status = 0;
        pid_t w = ::waitpid(-1, &status, 0);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) fail(p, "wait", "payload");
        if (w != payload) continue;
        if (WIFSIGNALED(status)) {
            report(p.statusFd, "signal %d\n", WTERMSIG(status));
        } else {
            report(p.statusFd, "exit %d\n", WEXITSTATUS(status));
        }
        ::_exit(0);
    }
}

long long nowMs() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A limit with some slack added; no limit stays none.
int laterLimit(int timeoutMs, int slackMs) { return timeoutMs < 0 ? -1 : timeoutMs + slackMs; }

// Waits for a child up to timeoutMs (negative: as long as it runs); false
// when it is still running.
bool waitFor(pid_t pid, int timeoutMs, int* status) {
    if (timeoutMs < 0) {
        while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
        }
        return true;
    }
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        struct pollfd pfd = {pidfd, POLLIN, 0};
        long long deadline = nowMs() + timeoutMs;
        int rc;
        do {
            long long left = deadline - nowMs();
            rc = ::poll(&pfd, 1, left > 0 ? static_cast<int>(left) : 0);
        } while (rc < 0 && errno == EINTR);
        ::close(pidfd);
        if (rc == 0) return false;
    } else {
        long long deadline = nowMs() + timeoutMs;
        while (::waitpid(pid, status, WNOHANG) == 0) {
            if (nowMs() >= deadline) return false;
            ::usleep(1000);
        }
        return true;
    }
    while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

// Outside the new PID namespace: starts its init and enforces the time
// limit. Killing the init ends every process of the node.
[[noreturn]] void runOuter(const ChildPlan& p) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != p.parent) ::_exit(0);
    // In the machine's view the init enforces the limit itself; waiting
    // longer here only guards against it hanging.
    if (!p.viewMachine && ::unshare(CLONE_NEWPID) != 0) fail(p, "unshare", "pid");
    pid_t init = ::fork();
    if (init < 0) fail(p, "fork", "init");
    if (init == 0) runInit(p);
    int status = 0;
    if (!waitFor(init, p.viewMachine ? laterLimit(p.timeoutMs, 5000) : p.timeoutMs, &status)) {
        ::kill(init, SIGKILL);
        report(p.statusFd, "timeout\n");
        while (::waitpid(init, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::_exit(0);
}

// A writable copy of a fixture file in the upper layer, its directories
// made as the node shows them, so that only the file can read as changed.
bool placeInUpper(const NodeRun& run, const std::string& path,
                  const node_detail::MemoryLayer::Item& item, std::string* error) {
    const std::string upper = run.dir_ + "/upper";
    std::string dir;
    const std::vector<std::string> parts = node_detail::splitPath(path);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        dir += "/" + parts[i];
        const LayerEntry e = run.before_.lookup(dir);
        const std::string host = upper + dir;
        if ((::mkdir(host.c_str(), 0700) != 0 && errno != EEXIST) ||
            ::lchown(host.c_str(), e.uid, e.gid) != 0 || ::chmod(host.c_str(), e.mode) != 0) {
            *error = "cannot make " + host + ": " + std::strerror(errno);
            return false;
        }
    }
    const std::string host = upper + path;
    const int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool ok = fd >= 0 && writeAll(fd, item.content) &&
                    ::fchown(fd, item.entry.uid, item.entry.gid) == 0 &&
                    ::fchmod(fd, item.entry.mode) == 0;
    if (!ok) *error = "cannot write " + host + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return ok;
}

int openOutput(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
}

// Reads the status lines: a setup error wins, then the payload's end, then
// the time limit.
void readStatus(const std::string& text, NodeResult& r) {
    bool ended = false, timeout = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        int n = 0;
        if (line.compare(0, 7, "error: ") == 0) {
            if (r.setupError.empty()) r.setupError = line.substr(7);
        } else if (std::sscanf(line.c_str(), "exit %d", &n) == 1) {
            r.exitCode = n;
            ended = true;
        } else if (std::sscanf(line.c_str(), "signal %d", &n) == 1) {
            r.exitCode = 128 + n;
            r.termSignal = n;
            ended = true;
        } else if (line == "timeout") {
            timeout = true;
        }
    }
    if (!r.setupError.empty()) {
        r.exitCode = -1;
        r.termSignal = 0;
    } else if (!ended && timeout) {
        r.timedOut = true;
        r.termSignal = SIGKILL;
        r.exitCode = 128 + SIGKILL;
    } else if (!ended) {
        r.setupError = "the node ended without reporting";
    }
}

}  // namespace

const char* toString(FileChange::Kind kind) {
    switch (kind) {
        case FileChange::Kind::Created:
            return "created";
        case FileChange::Kind::Modified:
            return "modified";
        case FileChange::Kind::Deleted:
            return "deleted";
    }
    return "?";
}

// ---- NodeResult

std::optional<NodeFile> NodeResult::file(const std::string& path) const {
    if (!run_) return std::nullopt;
    std::optional<std::string> canon = run_->after_.resolve(path);
    if (!canon) return std::nullopt;
    return run_->after_.file(*canon);
}

std::optional<NodeFile> NodeResult::fileBefore(const std::string& path) const {
    if (!run_) return std::nullopt;
    std::optional<std::string> canon = run_->before_.resolve(path);
    if (!canon) return std::nullopt;
    return run_->before_.file(*canon);
}

std::optional<std::string> NodeResult::fileContent(const std::string& path) const {
    std::optional<NodeFile> f = file(path);
    if (!f || f->type != NodeFile::Type::Regular) return std::nullopt;
    return std::move(f->content);
}

bool NodeResult::exists(const std::string& path) const { return file(path).has_value(); }

std::string NodeResult::runFolder() const { return run_ ? run_->dir_ : std::string(); }

std::vector<FileChange> NodeResult::changes() const {
    if (!run_) return {};
    return node_detail::scanChanges(run_->upper_, run_->before_, {node_detail::kStateDir});
}

std::vector<std::string> NodeResult::changedFiles() const {
    std::vector<std::string> paths;
    for (auto& c : changes()) paths.push_back(std::move(c.path));
    return paths;
}

std::vector<std::string> NodeResult::commandLog() const {
    std::vector<std::string> lines;
    std::string text = fileContent(node_detail::kCommandLog).value_or(std::string());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

std::optional<std::string> NodeResult::sysctlValue(const std::string& key) const {
    std::string k = node_detail::sysctlKey(key);
    if (k.empty()) return std::nullopt;
    return fileContent(std::string(node_detail::kSysctlDir) + "/values/" + k);
}

std::vector<KernelWrite> NodeResult::kernelWrites() const {
    std::vector<KernelWrite> writes;
    if (!run_) return writes;
    const std::string dir = std::string(node_detail::kSysctlDir) + "/original";
    for (const std::string& key : run_->after_.list(dir)) {
        writes.push_back({key, fileContent(dir + "/" + key).value_or(std::string()),
                          sysctlValue(key).value_or(std::string())});
    }
    std::sort(writes.begin(), writes.end(),
              [](const KernelWrite& a, const KernelWrite& b) { return a.key < b.key; });
    return writes;
}

// ---- NodeCopy

NodeCopy::NodeCopy() = default;
NodeCopy::~NodeCopy() = default;

bool NodeCopy::checkPath(const std::string& path, const char* what) {
    std::string problem;
    if (path.empty() || path[0] != '/') {
        problem = "is not absolute";
    } else if (path.find('\0') != std::string::npos) {
        problem = "holds a NUL byte";
    } else if (node_detail::splitPath(path).empty()) {
        problem = "names the root";
    } else if (path.compare(0, 9, "/.vxlnode") == 0) {
        problem = "is reserved for the node";
    }
    if (problem.empty()) return true;
    if (firstError_.empty()) firstError_ = std::string(what) + " path '" + path + "' " + problem;
    return false;
}

NodeCopy& NodeCopy::addFile(const std::string& path, const std::string& content, mode_t mode,
                            uid_t uid, gid_t gid) {
    if (checkPath(path, "file")) {
        fixtures_.push_back({Fixture::Kind::File, path, content, mode & 07777, uid, gid});
    }
    return *this;
}

NodeCopy& NodeCopy::addDirectory(const std::string& path, mode_t mode, uid_t uid, gid_t gid) {
    if (checkPath(path, "directory")) {
        fixtures_.push_back({Fixture::Kind::Directory, path, {}, mode & 07777, uid, gid});
    }
    return *this;
}

NodeCopy& NodeCopy::addSymlink(const std::string& path, const std::string& target) {
    if (target.empty() && firstError_.empty()) firstError_ = "empty symlink target for " + path;
    if (checkPath(path, "symlink") && !target.empty()) {
        fixtures_.push_back({Fixture::Kind::Symlink, path, target, 0777, 0, 0});
    }
    return *this;
}

NodeCopy& NodeCopy::hidePath(const std::string& path) {
    if (checkPath(path, "hidden")) fixtures_.push_back({Fixture::Kind::Hidden, path, {}, 0, 0, 0});
    return *this;
}

void NodeCopy::addBookkeeping(const std::string& path, const std::string& content, mode_t mode) {
    fixtures_.push_back({Fixture::Kind::File, path, content, mode & 07777, 0, 0});
}

void NodeCopy::hideBookkeeping(const std::string& path) {
    fixtures_.push_back({Fixture::Kind::Hidden, path, {}, 0, 0, 0});
}

void NodeCopy::noteError(const std::string& error) {
    if (firstError_.empty()) firstError_ = error;
}

std::string NodeCopy::addToolScript(const std::string& path,
                                    const std::function<std::string(int id)>& script) {
    ++toolCount_;
    const std::string dir = node_detail::toolDir(toolCount_);
    fixtures_.push_back({Fixture::Kind::File, path, script(toolCount_), 0755, 0, 0});
    addBookkeeping(dir + "/name", path + "\n");
    return dir;
}

void NodeCopy::addSysctlState() {
    if (sysctlState_) return;
    sysctlState_ = true;
    const std::string dir = node_detail::kSysctlDir;
    for (const char* sub : {"/values", "/original"}) {
        fixtures_.push_back({Fixture::Kind::Directory, dir + sub, {}, 0755, 0, 0});
    }
}

NodeCopy& NodeCopy::addRecorder(const std::string& path,
                                const std::vector<std::string>& passThrough) {
    if (!checkPath(path, "tool")) return *this;
    std::string machineTool;
    struct stat st;
    if (!passThrough.empty()) {
        std::optional<std::string> bytes = node_detail::readWholeFile(path);
        if (!bytes || ::stat(path.c_str(), &st) != 0) {
            noteError("cannot read the machine's tool " + path);
            return *this;
        }
        const std::string parent = node_detail::parentPath(path);
        const std::string name = path.substr(path.rfind('/') + 1);
        machineTool = node_detail::joinPath(parent, "." + name + ".machine");
        addFile(machineTool, *bytes, st.st_mode & 07777, st.st_uid, st.st_gid);
    }
    const std::string dir = addToolScript(path, node_detail::recorderScript);
    if (passThrough.empty()) return *this;
    std::string reads;
    for (const std::string& word : passThrough) reads += word + "\n";
    addBookkeeping(dir + "/reads", reads);
    addBookkeeping(dir + "/real", machineTool + "\n");
    return *this;
}

NodeCopy& NodeCopy::addRecordingSysctl(const std::string& path) {
    if (!checkPath(path, "tool")) return *this;
    addSysctlState();
    if (!machineKernel_) {
        machineKernel_ = true;
        const std::string dir = std::string(node_detail::kSysctlDir) + "/machine";
        fixtures_.push_back({Fixture::Kind::Directory, dir, {}, 0755, 0, 0});
        for (const auto& [key, value] : node_detail::namespacedKernelValues()) {
            addBookkeeping(dir + "/" + key, value);
        }
    }
    addToolScript(path, node_detail::recordingSysctlScript);
    return *this;
}

NodeCopy& NodeCopy::viewMachine() {
    viewMachine_ = true;
    return *this;
}

NodeCopy& NodeCopy::addTmpfs(const std::string& path, std::size_t bytes) {
    if (bytes == 0) {
        if (firstError_.empty()) firstError_ = "tmpfs at '" + path + "' has no size";
    } else if (checkPath(path, "tmpfs")) {
        mounts_.push_back({path, bytes});
    }
    return *this;
}

NodeCopy& NodeCopy::keepNetwork() {
    keepNetwork_ = true;
    return *this;
}

NodeCopy& NodeCopy::untilStopped() {
    untilStopped_ = true;
    return *this;
}

NodeCopy& NodeCopy::setHostname(const std::string& name) {
    if ((name.empty() || name.size() > 64 || name.find('\0') != std::string::npos) &&
        firstError_.empty()) {
        firstError_ = "bad hostname '" + name + "'";
    }
    hostname_ = name;
    return *this;
}

NodeCopy& NodeCopy::setEnv(const std::string& name, const std::string& value) {
    if ((name.empty() || name.find_first_of("=\0", 0, 2) != std::string::npos ||
         value.find('\0') != std::string::npos) &&
        firstError_.empty()) {
        firstError_ = "bad environment variable '" + name + "'";
    }
    env_.emplace_back(name, value);
    return *this;
}

NodeCopy& NodeCopy::setTimeout(std::chrono::milliseconds limit) {
    if (limit.count() <= 0 || limit.count() > 3600 * 1000) {
        if (firstError_.empty()) firstError_ = "time limit out of range";
    } else {
        timeout_ = limit;
    }
    return *this;
}

NodeResult NodeCopy::run(const std::string& command) const { return start(&command, nullptr); }

NodeResult NodeCopy::runFunction(const std::function<int()>& fn) const {
    if (!fn) {
        NodeResult r;
        r.setupError = "no function to run";
        return r;
    }
    return start(nullptr, &fn);
}

NodeResult NodeCopy::start(const std::string* command, const std::function<int()>* fn) const {
    NodeResult result;
    if (!firstError_.empty()) {
        result.setupError = firstError_;
        return result;
    }
    if (::geteuid() != 0) {
        result.setupError = "test nodes need root";
        return result;
    }

    // Fixture layer, in declaration order (a later fixture wins).
    FixturePlan plan;
    std::string error;
    for (const auto& f : fixtures_) {
        LayerEntry e = fileEntry(f.mode, f.uid, f.gid);
        if (f.kind == Fixture::Kind::Directory) e = dirEntry(f.mode, f.uid, f.gid);
        if (f.kind == Fixture::Kind::Symlink) e.kind = LayerEntry::Kind::Symlink;
        if (f.kind == Fixture::Kind::Hidden) e = LayerEntry{LayerEntry::Kind::Whiteout};
        if (!plan.place(f.path, e, f.content, &error)) {
            result.setupError = error;
            return result;
        }
    }
    auto state = [&](const std::string& path, LayerEntry e, const std::string& content = {}) {
        if (error.empty()) plan.place(path, e, content, &error);
    };
    // Opaque: a machine that is itself a node keeps its bookkeeping apart.
    LayerEntry stateDir = dirEntry(0755, 0, 0);
    stateDir.opaque = true;
    state(node_detail::kStateDir, stateDir);
    state(node_detail::kCommandLog, fileEntry(0666));
    std::vector<std::pair<std::string, std::size_t>> mounts;
    for (const auto& m : mounts_) {
        std::optional<std::string> canon = plan.directory(m.path, &error);
        if (!canon) break;
        mounts.emplace_back(*canon, m.bytes);
    }
    if (!error.empty()) {
        result.setupError = error;
        return result;
    }

    // The run's folder: upper and work share one file system, as overlayfs
    // requires; the fixture layer is a tmpfs mounted there inside the node.
    std::string why;
    std::string base = nodeBase(&why);
    if (base.empty()) {
        result.setupError = "no folder for node layers: " + why;
        return result;
    }
    std::string templ = base + "/vxlnode.XXXXXX";
    if (!::mkdtemp(templ.data())) {
        result.setupError = "mkdtemp in " + base + ": " + std::strerror(errno);
        return result;
    }
    if (templ.find_first_of(",:\\") != std::string::npos) {
        node_detail::removeTree(templ);
        result.setupError = "node folder path unusable for overlay options: " + templ;
        return result;
    }
    auto run = std::make_shared<NodeRun>(templ, std::move(plan.layer()));
    result.run_ = run;

    ChildPlan p;
    p.parent = ::getpid();
    p.runDir = templ;
    p.fixtures = templ + "/fixtures";
    p.upper = templ + "/upper";
    p.work = templ + "/work";
    p.merged = templ + "/merged";
    for (const auto& d : {p.fixtures, p.upper, p.work, p.merged, templ + "/io"}) {
        if (::mkdir(d.c_str(), 0700) != 0) {
            result.setupError = "mkdir " + d + ": " + std::strerror(errno);
            return result;
        }
    }
    p.overlayOptions = "lowerdir=" + p.fixtures + ":/,upperdir=" + p.upper + ",workdir=" + p.work;
    std::size_t fixtureBytes = 1 << 20;
    for (const auto& [path, item] : run->fixtures_.items()) {
        p.ops.push_back({p.fixtures + path, item.entry, &item.content});
        fixtureBytes += item.content.size() + 4096;
    }
    p.fixtureOptions = "mode=0755,size=" + std::to_string(fixtureBytes);
    for (const auto& [path, bytes] : mounts) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o",
                      static_cast<unsigned>(run->before_.lookup(path).mode));
        p.tmpfs.emplace_back(p.merged + path, "size=" + std::to_string(bytes) + ",mode=" + mode);
    }
    p.hostname = hostname_;
    p.env = {"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
             "HOME=/root",
             "LC_ALL=C",
             "USER=root",
             "LOGNAME=root",
             "SHELL=/bin/sh"};
    for (const auto& [k, v] : env_) {
        const std::string entry = k + "=";
        p.env.erase(std::remove_if(p.env.begin(), p.env.end(),
                                   [&](const std::string& e) { return e.rfind(entry, 0) == 0; }),
                    p.env.end());
        p.env.push_back(entry + v);
    }
    for (auto& s : p.env) p.envp.push_back(s.data());
    p.envp.push_back(nullptr);
    p.command = command;
    p.fn = fn;
    p.timeoutMs = untilStopped_ ? -1 : static_cast<int>(timeout_.count());
    p.viewMachine = viewMachine_;
    p.keepNetwork = keepNetwork_;
    if (viewMachine_) {
        for (const auto& [path, item] : run->fixtures_.items()) {
            if (item.entry.kind != LayerEntry::Kind::Regular || path.rfind("/sys/", 0) != 0)
                continue;
            if (!placeInUpper(*run, path, item, &error)) {
                result.setupError = error;
                return result;
            }
            p.sysFiles.push_back(path);
        }
    }

    std::string io = templ + "/io/";
    p.outFd = openOutput(io + "stdout");
    p.errFd = openOutput(io + "stderr");
    p.statusFd = openOutput(io + "status");
    auto closeAll = [&p] {
        for (int fd : {p.outFd, p.errFd, p.statusFd}) {
            if (fd >= 0) ::close(fd);
        }
    };
    if (p.outFd < 0 || p.errFd < 0 || p.statusFd < 0) {
        result.setupError = "cannot create " + io + ": " + std::strerror(errno);
        closeAll();
        return result;
    }

    // Buffered output would otherwise be written again by the children.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    pid_t outer = ::fork();
    if (outer < 0) {
        result.setupError = std::string("fork: ") + std::strerror(errno);
        closeAll();
        return result;
    }
    if (outer == 0) runOuter(p);
    closeAll();
    int status = 0;
    if (!waitFor(outer, laterLimit(p.timeoutMs, 10000), &status)) {
        // The outer process enforces the limit; this only guards against it
        // hanging. Its death takes the node's init with it.
        ::kill(outer, SIGKILL);
        while (::waitpid(outer, &status, 0) < 0 && errno == EINTR) {
        }
    }
    result.stdoutText = node_detail::readWholeFile(io + "stdout").value_or(std::string());
    result.stderrText = node_detail::readWholeFile(io + "stderr").value_or(std::string());
    readStatus(node_detail::readWholeFile(io + "status").value_or(std::string()), result);
    return result;
}

bool NodeCopy::available(std::string* why) {
    // The reason stays empty when nodes run. A function-local static rather
    // than std::call_once, whose thread-local state would make the vxlfixup
    // tool (which links this) depend on the dynamic loader itself.
    static const std::string reason = [] {
        if (::geteuid() != 0) {
            return "test nodes need root (running as uid " + std::to_string(::geteuid()) + ")";
        }
        std::vector<std::string> tried;
        for (const auto& base : baseCandidates()) {
            std::string unusable;
            if (!usableBase(base, &unusable)) {
                tried.push_back(unusable);
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(gBaseMutex);
                gBase = base;
            }
            NodeCopy probe;
            probe.setTimeout(std::chrono::seconds(10));
            NodeResult r = probe.run("echo ok");
            if (r.ran() && r.exitCode == 0 && r.stdoutText == "ok\n") return std::string();
            tried.push_back(
                base + ": " +
                (r.ran() ? "probe exited " + std::to_string(r.exitCode) + ": " + r.stderrText
                         : r.setupError));
            std::lock_guard<std::mutex> lock(gBaseMutex);
            gBase.clear();
        }
        std::string text = "test nodes unavailable here";
        for (const auto& t : tried) text += "; " + t;
        return text;
    }();
    if (!reason.empty() && why) *why = reason;
    return reason.empty();
}

}  // namespace vxl_fixup
