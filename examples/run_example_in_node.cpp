// Runs the example fix-up data document through the command-line tool inside
// a test node, so nothing on this machine changes: the node's kernel values
// are a fake sysctl's and its /etc/sysctl.conf is a copy. Prints the outcome
// table, the sysctl calls and the lines of sysctl.conf the run changed, then
// the registry file's new owner and mode and the service tool calls that
// stopped the node's avahi-daemon.
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox/TestNode.h"

namespace {

const char* const kSysctlConf =
    "# Kernel settings of this node\n"
    "fs.file-max = 65536\n"
    "kernel.shmmax = 18446744073692774399\n"
    "net.ipv4.ip_local_port_range = 32768 60999\n"
    "kernel.panic_on_oops = 0\n";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

// ---- Cluster settings and daemons ------------------------------------------
// A node-local registry file that is still root's, the accounts it should
// belong to, and a running avahi-daemon (a copy of sleep under that name).
// The node has no SysV service tools: the fake service stops the daemon and
// the fake chkconfig takes it out of start-up; both log their calls.
namespace cluster_demo {

const char* const kRegistryFile = "/etc/qhm/olr.loc";
const char* const kServiceCalls = "/var/tmp/service-calls.log";

void addFixtures(vxl_fixup::TestNode& node) {
    node.addFile(kRegistryFile, "olrconfig_loc=/u01/qhm/olr\n", 0644);
    node.addFile("/sbin/service",
                 "#!/bin/sh\n"
                 "echo \"service $*\" >> /var/tmp/service-calls.log\n"
                 "[ \"$2\" = stop ] && kill \"$(cat /run/avahi-daemon.pid)\"\n"
                 "exit 0\n",
                 0755);
    node.addFile("/sbin/chkconfig",
                 "#!/bin/sh\necho \"chkconfig $*\" >> /var/tmp/service-calls.log\n", 0755);
}

// Runs in the node before the tool: the accounts, then the daemon, waiting
// until ps sees it.
std::string setupCommands() {
    return "groupadd -g 54321 oinstall && useradd -M -u 54321 -g oinstall grid && "
           "cp /bin/sleep /var/tmp/avahi-daemon && "
           "{ /var/tmp/avahi-daemon 600 & echo $! > /run/avahi-daemon.pid; } && "
           "until ps -C avahi-daemon >/dev/null; do sleep 0.01; done && ";
}

void printChanges(const vxl_fixup::NodeResult& r) {
    std::cout << "\n== " << kRegistryFile << " (was uid 0, gid 0, mode 644) ==\n";
    if (const auto f = r.file(kRegistryFile)) {
        std::cout << "  uid " << f->uid << " (grid), gid " << f->gid << " (oinstall), mode "
                  << std::oct << f->mode << std::dec << "\n";
    }
    std::cout << "\n== service tool calls (avahi-daemon was running) ==\n";
    for (const std::string& call : lines(r.fileContent(kServiceCalls).value_or(""))) {
        std::cout << "  " << call << "\n";
    }
}

}  // namespace cluster_demo

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " VXLFIXUP_TOOL DOCUMENT NODE\n";
        return 2;
    }
    std::string why;
    if (!vxl_fixup::TestNode::available(&why)) {
        std::cerr << "cannot start a test node here: " << why << "\n";
        return 2;
    }
    const std::string tool = argv[1], document = argv[2], nodeName = argv[3];
    vxl_fixup::TestNode node;
    node.setHostname(nodeName);
    node.addFile("/etc/sysctl.conf", kSysctlConf);
    node.addFakeSysctl("/sbin/sysctl")
        .set("fs.file-max", "65536")
        .set("kernel.sem", "250\t32000\t100\t128")
        .set("net.ipv4.ip_local_port_range", "32768\t60999")
        .set("kernel.shmmax", "18446744073692774399")
        .set("kernel.panic_on_oops", "0")
        .setReadOnly("kernel.panic_on_oops");
    node.addDirectory("/var/tmp/vxlfixup-demo", 0700);
    cluster_demo::addFixtures(node);
    const vxl_fixup::NodeResult r =
        node.run(cluster_demo::setupCommands() + tool + " run " + document + " --node " + nodeName +
                 " --work-dir /var/tmp/vxlfixup-demo --trace-level 0");
    if (!r.ran()) {
        std::cerr << "the test node could not run: " << r.setupError << "\n";
        return 2;
    }
    std::cout << "== vxlfixup run (inside a test node for " << nodeName << ") ==\n"
              << r.stdoutText << r.stderrText;
    std::cout << "\n== sysctl calls ==\n";
    for (const std::string& call : r.commandLog()) std::cout << "  " << call << "\n";
    std::cout << "\n== /etc/sysctl.conf changes ==\n";
    const std::vector<std::string> before = lines(kSysctlConf);
    const std::vector<std::string> after = lines(r.fileContent("/etc/sysctl.conf").value_or(""));
    const std::set<std::string> old(before.begin(), before.end()), now(after.begin(), after.end());
    for (const std::string& l : before) {
        if (!now.count(l)) std::cout << "- " << l << "\n";
    }
    for (const std::string& l : after) {
        if (!old.count(l)) std::cout << "+ " << l << "\n";
    }
    cluster_demo::printChanges(r);
    std::cout << "\nThe machine itself was not changed: every change above stayed in the node.\n";
    return r.exitCode;
}
