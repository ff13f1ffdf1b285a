#pragma once
// A node copy: a throwaway copy of this machine that runs a command or a
// function and reports what it changed. The tests run in one (TestNode adds
// their fake tools); "vxlfixup plan" runs a fix-up document in one.
//
// A node is a set of new mount, PID, IPC, UTS and network namespaces whose
// root is an overlay: the machine's root file system is the bottom layer, the
// fixtures declared here form a middle layer, and everything the payload
// changes lands in a fresh upper layer under a temporary folder. The host is
// never written; the node's mounts die with its namespaces and the temporary
// folder is removed when the last NodeResult of a run goes away.
//
// Kernel settings: /proc/sys is read-only in a node and /sys is the root file
// system's empty directory, unless viewMachine() asks for the machine's view.
//
// Needs root and a kernel with overlayfs; call NodeCopy::available() before
// running a node.
//
// Paths are node paths ("/etc/sysctl.conf"). Symlinked parent directories are
// resolved the way the node sees them, so "/sbin/x" on a merged-/usr system
// is the file "/usr/sbin/x"; change lists report the resolved paths.
//
// Builder methods never throw: the first bad declaration (relative path, bad
// key, ...) is remembered and every run then returns a NodeResult whose
// setupError names it, without starting a node.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vxl_fixup {

namespace node_detail {
class NodeRun;
}

// What a path holds inside a node.
struct NodeFile {
    enum class Type { Regular, Directory, Symlink, Other };
    Type type = Type::Regular;
    mode_t mode = 0;  // permission bits only (07777)
    uid_t uid = 0;
    gid_t gid = 0;
    std::string content;  // regular file: its bytes; symlink: its target
};

// One path the payload created, modified (content, type, mode or owner) or
// deleted, compared with the node as it started (machine plus fixtures).
struct FileChange {
    enum class Kind { Created, Modified, Deleted };
    std::string path;
    Kind kind = Kind::Created;
    bool operator==(const FileChange& o) const { return path == o.path && kind == o.kind; }
};

const char* toString(FileChange::Kind kind);

// A kernel value the recording sysctl was asked to write: the machine's
// value before the first write and the last value written.
struct KernelWrite {
    std::string key;  // "kernel.shmmax"
    std::string before;
    std::string after;
};

// The outcome of one run. Copies share the run's temporary folder, which is
// removed when the last copy is destroyed. File queries read the node's view
// after the run: upper layer, then fixtures, then the machine.
class NodeResult {
public:
    // The payload's exit code; 128+signal when it was killed by a signal
    // (including the time limit); -1 when the node never ran the payload.
    int exitCode = -1;
    int termSignal = 0;  // signal that ended the payload, 0 if it exited
    bool timedOut = false;
    std::string setupError;  // non-empty: the node could not be built
    std::string stdoutText;
    std::string stderrText;

    bool ran() const { return setupError.empty(); }

    std::optional<NodeFile> file(const std::string& path) const;
    // The same path as the node started (machine plus fixtures).
    std::optional<NodeFile> fileBefore(const std::string& path) const;
    // Bytes of a regular file; nullopt when absent or not a regular file.
    std::optional<std::string> fileContent(const std::string& path) const;
    bool exists(const std::string& path) const;

    // Sorted by path. The node's own bookkeeping (/.vxlnode) is left out; a
    // directory merely copied up to hold a changed file is not a change.
    std::vector<FileChange> changes() const;
    std::vector<std::string> changedFiles() const;  // paths of changes()

    // One line per call of a recorder or fake tool: the tool's declared path,
    // then every argument in brackets: "/sbin/sysctl [-n] [kernel.shmmax]".
    std::vector<std::string> commandLog() const;
    // The node's sysctl's value of a key after the run: for the tests' fake
    // sysctl any key it knows, for the recording sysctl the keys it wrote.
    std::optional<std::string> sysctlValue(const std::string& key) const;
    // The writes of the recording sysctl, sorted by key.
    std::vector<KernelWrite> kernelWrites() const;
    // The run's temporary folder on the machine; empty when the node never
    // ran. It goes with the last copy of this result.
    std::string runFolder() const;

private:
    friend class NodeCopy;
    std::shared_ptr<const node_detail::NodeRun> run_;
};

class NodeCopy {
public:
    NodeCopy();
    ~NodeCopy();
    NodeCopy(const NodeCopy&) = delete;
    NodeCopy& operator=(const NodeCopy&) = delete;

    // True when nodes can run here (root, namespaces, overlay). Probes once
    // per process by starting a node; otherwise *why gets the reason.
    static bool available(std::string* why = nullptr);

    // Fixtures: placed in the node's middle layer before the payload starts.
    NodeCopy& addFile(const std::string& path, const std::string& content, mode_t mode = 0644,
                      uid_t uid = 0, gid_t gid = 0);
    NodeCopy& addDirectory(const std::string& path, mode_t mode = 0755, uid_t uid = 0,
                           gid_t gid = 0);
    NodeCopy& addSymlink(const std::string& path, const std::string& target);
    // The machine's file or directory at path is absent in the node.
    NodeCopy& hidePath(const std::string& path);
    // A tmpfs of the given size at path (to fill a disk). What is written there
    // is not kept in the result.
    NodeCopy& addTmpfs(const std::string& path, std::size_t bytes);

    // A tool at path that logs its call (see commandLog()) and succeeds
    // without output, instead of the machine's. A call whose first argument
    // is one of passThrough runs the machine's own tool instead (a copy of it,
    // kept in the same directory as ".NAME.machine", so it finds its
    // neighbours); the machine's tool must then be readable.
    NodeCopy& addRecorder(const std::string& path,
                          const std::vector<std::string>& passThrough = {});
    // A sysctl at path that reads kernel values from the machine's /proc/sys
    // until the payload writes them, keeps every write in the node (a
    // read-only key is refused as the kernel would) and reports the writes in
    // kernelWrites(). Again for a second path: one state is shared.
    NodeCopy& addRecordingSysctl(const std::string& path = "/sbin/sysctl");

    // The machine's view instead of the node's own: no PID namespace (ps and
    // /proc list the machine's processes; what the payload leaves running is
    // ended with it), and the machine's /sys read-only, where a file added
    // with addFile() replaces the machine's by a writable copy that changes()
    // and file() report like any other file.
    NodeCopy& viewMachine();

    // The node stays in the caller's network namespace instead of a new one,
    // so that nodes started from one namespace the caller made reach each
    // other there (and never the machine's network).
    NodeCopy& keepNetwork();
    // No time limit: the run lasts until the payload ends or the node's init
    // is killed from outside.
    NodeCopy& untilStopped();

    NodeCopy& setHostname(const std::string& name);
    // Added to the payload's environment (PATH, HOME=/root, LC_ALL=C, USER,
    // LOGNAME and SHELL are always set; the caller's own is not passed). A
    // later value of a name wins.
    NodeCopy& setEnv(const std::string& name, const std::string& value);
    NodeCopy& setTimeout(std::chrono::milliseconds limit);  // default 20 s, at most 1 h

    // Runs "/bin/sh -c command" in a fresh node built from the fixtures.
    NodeResult run(const std::string& command) const;
    // Runs fn in a forked child after it entered the node; its return value is
    // the exit code. The child always ends with _exit (an exception becomes
    // exit code 250 with the message on stderr), never returning to the caller.
    NodeResult runFunction(const std::function<int()>& fn) const;

protected:
    // For tools built on the node's bookkeeping (under /.vxlnode, which the
    // public builders refuse): a file there, a path hidden there, the script
    // of a new tool at path and its bookkeeping directory, the first error.
    void addBookkeeping(const std::string& path, const std::string& content, mode_t mode = 0644);
    void hideBookkeeping(const std::string& path);
    std::string addToolScript(const std::string& path,
                              const std::function<std::string(int id)>& script);
    void noteError(const std::string& error);
    bool checkPath(const std::string& path, const char* what);
    void addSysctlState();

private:
    struct Fixture;
    struct Mount {
        std::string path;
        std::size_t bytes;
    };
    NodeResult start(const std::string* command, const std::function<int()>* fn) const;

    std::string firstError_;
    std::vector<Fixture> fixtures_;
    std::vector<Mount> mounts_;
    std::vector<std::pair<std::string, std::string>> env_;
    std::optional<std::string> hostname_;
    std::chrono::milliseconds timeout_{20000};
    bool viewMachine_ = false;
    bool keepNetwork_ = false;
    bool untilStopped_ = false;
    bool sysctlState_ = false;
    bool machineKernel_ = false;  // this machine's namespaced kernel values saved
    int toolCount_ = 0;
};

}  // namespace vxl_fixup
