#pragma once
// The test node: a throwaway copy of this machine for end-to-end tests.
//
// A node is a set of new mount, PID, IPC, UTS and network namespaces whose
// root is an overlay: the machine's root file system is the bottom layer, the
// fixtures the test declares form a middle layer, and everything the payload
// changes lands in a fresh upper layer under a temporary folder. The host is
// never written; the node's mounts die with its namespaces and the temporary
// folder is removed when the last NodeResult of a run goes away.
//
// Needs root and a kernel with overlayfs; call TestNode::available() (or use
// VXL_REQUIRE_TEST_NODE() from NodeTestSupport.h) before running a node.
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
#include <map>
#include <memory>
#include <optional>
#include <set>
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
    // Bytes of a regular file; nullopt when absent or not a regular file.
    std::optional<std::string> fileContent(const std::string& path) const;
    bool exists(const std::string& path) const;

    // Sorted by path. The node's own bookkeeping (/.vxlnode) is left out; a
    // directory merely copied up to hold a changed file is not a change.
    std::vector<FileChange> changes() const;
    std::vector<std::string> changedFiles() const;  // paths of changes()

    // One line per call of a fake tool: the tool's declared path, then every
    // argument in brackets: "/sbin/sysctl [-n] [kernel.shmmax]".
    std::vector<std::string> commandLog() const;
    // The fake sysctl's value of a key after the run (nullopt: unknown key).
    std::optional<std::string> sysctlValue(const std::string& key) const;

  private:
    friend class TestNode;
    std::shared_ptr<const node_detail::NodeRun> run_;
};

// State behind the node's fake sysctl: one value per key, kept byte for byte
// (tabs and blanks included). Calls:
//   sysctl [-n] KEY...        prints "KEY = VALUE" (or VALUE with -n);
//                             unknown key: message on stderr, exit 255
//   sysctl [-w] KEY=VALUE...  stores and prints "KEY = VALUE" (-q: silent);
//                             unknown or read-only key: message, exit 255
//   sysctl -p [FILE...]       loads "key = value" lines (default
//                             /etc/sysctl.conf), prints each setting
//   sysctl -a                 prints every key
// -e ignores unknown keys. forceResult() overrides all of this.
class FakeSysctl {
  public:
    FakeSysctl& set(const std::string& key, const std::string& value);
    FakeSysctl& setReadOnly(const std::string& key, bool readOnly = true);
    // Every call (still logged) prints these texts and exits with exitCode.
    FakeSysctl& forceResult(const std::string& stdoutText, const std::string& stderrText,
                            int exitCode);

  private:
    friend class TestNode;
    struct Forced {
        std::string out, err;
        int code;
    };
    explicit FakeSysctl(std::string* firstError) : firstError_(firstError) {}
    std::string* firstError_;
    std::map<std::string, std::string> values_;
    std::set<std::string> readOnly_;
    std::optional<Forced> forced_;
};

class TestNode {
  public:
    TestNode();
    ~TestNode();
    TestNode(const TestNode&) = delete;
    TestNode& operator=(const TestNode&) = delete;

    // True when nodes can run here (root, namespaces, overlay). Probes once
    // per process by starting a node; otherwise *why gets the reason.
    static bool available(std::string* why = nullptr);

    // Fixtures: placed in the node's middle layer before the payload starts.
    TestNode& addFile(const std::string& path, const std::string& content, mode_t mode = 0644,
                      uid_t uid = 0, gid_t gid = 0);
    TestNode& addDirectory(const std::string& path, mode_t mode = 0755, uid_t uid = 0,
                           gid_t gid = 0);
    TestNode& addSymlink(const std::string& path, const std::string& target);
    // The machine's file or directory at path is absent in the node.
    TestNode& hidePath(const std::string& path);
    // A shell script at path that logs its call (see commandLog()), prints the
    // texts and exits with exitCode.
    TestNode& addFakeTool(const std::string& path, const std::string& stdoutText = {},
                          const std::string& stderrText = {}, int exitCode = 0);
    // Installs the fake sysctl at path (again for a second path); one state is
    // shared by all of them and lives as long as this TestNode.
    FakeSysctl& addFakeSysctl(const std::string& path = "/sbin/sysctl");
    // A tmpfs of the given size at path (to fill a disk). What is written there
    // is not kept in the result.
    TestNode& addTmpfs(const std::string& path, std::size_t bytes);

    TestNode& setHostname(const std::string& name);
    // Added to the payload's environment (PATH, HOME=/root, LC_ALL=C, USER,
    // LOGNAME and SHELL are always set; the test process's own is not passed).
    TestNode& setEnv(const std::string& name, const std::string& value);
    TestNode& setTimeout(std::chrono::milliseconds limit);  // default 20 s

    // Runs "/bin/sh -c command" in a fresh node built from the fixtures.
    NodeResult run(const std::string& command) const;
    // Runs fn in a forked child after it entered the node; its return value is
    // the exit code. The child always ends with _exit (an exception becomes
    // exit code 250 with the message on stderr), never returning to the caller.
    NodeResult runFunction(const std::function<int()>& fn) const;

  private:
    struct Fixture;
    struct Mount {
        std::string path;
        std::size_t bytes;
    };
    NodeResult start(const std::string* command, const std::function<int()>* fn) const;
    bool checkPath(const std::string& path, const char* what);
    void addTool(const std::string& path, const std::string& script);

    std::string firstError_;
    std::vector<Fixture> fixtures_;
    std::vector<Mount> mounts_;
    std::vector<std::pair<std::string, std::string>> env_;
    std::optional<std::string> hostname_;
    std::chrono::milliseconds timeout_{20000};
    std::unique_ptr<FakeSysctl> sysctl_;
    std::vector<std::string> sysctlPaths_;
    int toolCount_ = 0;
};

}  // namespace vxl_fixup
