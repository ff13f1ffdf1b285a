#pragma once
// Simulated nodes: long-lived node copies (NodeCopy.h) that stand for the
// machines of a cluster, for the fleet tests, the demo and the benches.
// Test-only; the program vxl-simnode (SimNodeMain.cpp) drives them.
//
// Every node is a node copy with a hostname of its own, kept running until it
// is stopped. All nodes of one start share one network namespace made for
// them (never the machine's): node i owns the loopback address 127.0.1.i
// there, and every node's /etc/hosts names all of them, so a daemon of one
// node reaches the others by name. Kernel values come from the test node's
// fake sysctl, the same on every node.
//
// Everything a start leaves lives in its folder:
//   DIR/nodes               the node names, one a line
//   DIR/hosts               "ADDRESS NAME" lines, as every node's /etc/hosts ends
//   DIR/inventory.ini       an inventory reaching each node through the chroot
//                           connection with the node's wrapper as chroot_exe
//   DIR/layers/             the nodes' layers (the copies' temporary folders)
//   DIR/NAME/state          the node's processes (see NodeState)
//   DIR/NAME/root           -> /proc/PID/root, the node's root seen from here
//   DIR/NAME/chroot-exe     "chroot-exe ROOT CMD..." runs CMD in the node
//   DIR/NAME/log            what the node's keeper process reported

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vxl_fixup::simnode {

struct SimNode {
    std::string name;     // "node01"
    std::string address;  // "127.0.1.1"
};

// Nodes PREFIX01..PREFIXnn (at least two digits, as many as count needs);
// empty when the count is out of 1..kMaxNodes or the prefix is not a
// hostname label start (letters, digits, '-'; a letter first).
inline constexpr int kMaxNodes = 254;
std::vector<SimNode> simNodes(int count, const std::string& prefix);

// A node name as this program writes them, for names read back from a folder.
bool plainName(const std::string& name);
// A folder whose path can stand in an inventory and a script unquoted:
// absolute, without "." or ".." components, made of A-Z a-z 0-9 _ . / -.
bool plainFolder(const std::string& dir);

// The machine's hosts file with the nodes' lines after it ("ADDRESS NAME").
std::string hostsText(const std::string& machineHosts, const std::vector<SimNode>& nodes);
std::string nodeLines(const std::vector<SimNode>& nodes);

// The inventory: group vxlfixup_simnodes, one host per node.
std::string inventoryText(const std::string& dir, const std::vector<SimNode>& nodes);

// The node's wrapper for the chroot connection, which calls
// "chroot_exe ROOT SHELL -c CMD": it drops ROOT (the node has its own) and
// runs the rest through "program exec".
std::string chrootExeScript(const std::string& program, const std::string& dir,
                            const std::string& name);

// A node's processes on this machine: its keeper's supervisor (which holds the
// node copy), the node's init and the keeper (the node's payload, which waits
// for SIGTERM); each with its start time, so a reused PID is never taken for it.
struct NodeState {
    pid_t supervisor = 0, init = 0, keeper = 0;
    unsigned long long supervisorStart = 0, initStart = 0, keeperStart = 0;
    std::string address;
};
std::string formatState(const NodeState& state);
std::optional<NodeState> parseState(const std::string& text);

// The kernel values every node's sysctl starts with; "KEY=VALUE" overrides
// (a later one wins) replace or add to them. False with *error for a bad one.
using KernelValues = std::vector<std::pair<std::string, std::string>>;
KernelValues defaultKernelValues();
bool addKernelValue(KernelValues& values, const std::string& assignment, std::string* error);

// The start time of a process (field 22 of /proc/PID/stat); 0 when it is gone.
unsigned long long processStart(pid_t pid);

}  // namespace vxl_fixup::simnode
