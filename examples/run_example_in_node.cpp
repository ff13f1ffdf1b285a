// Runs the example fix-up data document through the command-line tool inside
// a test node, so nothing on this machine changes: the node's kernel values
// are a fake sysctl's and its /etc/sysctl.conf is a copy. Prints the outcome
// table, the sysctl calls and the lines of sysctl.conf the run changed; then
// two more test nodes set up SSH user equivalence with "vxlfixup ssh-equiv".
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

// --- SSH user equivalence: two test nodes exchange keys through the tool ---

const char* const kSshWork = "/var/tmp/vxlfixup-ssh";

// Shell lines that show "[node] $ vxlfixup CALL", run it with its output in
// /var/tmp/call.out, print that and stop the script if the call failed.
std::string shownCall(const std::string& tool, const std::string& node, const std::string& call) {
    return "echo '[" + node + "] $ vxlfixup " + call + "'; " + tool + " " + call +
           " >/var/tmp/call.out 2>&1; rc=$?; cat /var/tmp/call.out; [ $rc = 0 ] || exit $rc; ";
}

int showSshEquivalence(const std::string& tool) {
    std::cout << "\n== vxlfixup ssh-equiv (two more test nodes, node1 and node2) ==\n";
    const std::string names[] = {"node1", "node2"};
    vxl_fixup::TestNode nodes[2];
    std::string collected;
    for (int i = 0; i < 2; ++i) {
        nodes[i].setHostname(names[i]).setEnv("HOME", "/home/demo");
        nodes[i].addDirectory("/home/demo", 0755).addDirectory(kSshWork, 0700);
        const std::string options = " --node " + names[i] + " --work-dir " + kSshWork;
        const vxl_fixup::NodeResult r =
            nodes[i].run(shownCall(tool, names[i], "ssh-equiv generate" + options));
        std::cout << r.stdoutText << r.stderrText;
        if (r.exitCode != 0) return r.exitCode;
        // The node's next run starts from the key pair it generated.
        const std::string key = "/home/demo/.ssh/" + names[i] + ".id_rsa";
        nodes[i].addDirectory("/home/demo/.ssh", 0700);
        nodes[i].addFile(key, r.fileContent(key).value_or(""), 0600);
        nodes[i].addFile(key + ".pub", r.fileContent(key + ".pub").value_or(""), 0644);
        collected +=
            r.fileContent(std::string(kSshWork) + "/" + names[i] + ".id_rsa.pub").value_or("");
    }
    std::cout << "(the host collects both published keys into /var/tmp/collected.pub on each "
                 "node)\n";
    for (int i = 0; i < 2; ++i) {
        nodes[i].addFile("/var/tmp/collected.pub", collected);
        const std::string options = " --node " + names[i] + " --work-dir " + kSshWork;
        const vxl_fixup::NodeResult r = nodes[i].run(
            shownCall(tool, names[i], "ssh-equiv update --input /var/tmp/collected.pub" + options) +
            shownCall(tool, names[i], "ssh-equiv refresh" + options) +
            "export $(sed -n 's/^  agent: //p' /var/tmp/call.out); echo '[" + names[i] +
            "] keys the new agent holds:'; ssh-add -l; kill \"$SSH_AGENT_PID\"");
        std::cout << r.stdoutText << r.stderrText;
        if (r.exitCode != 0) return r.exitCode;
        std::cout << "[" << names[i] << "] ~/.ssh/authorized_keys:\n";
        for (const std::string& key :
             lines(r.fileContent("/home/demo/.ssh/authorized_keys").value_or(""))) {
            const size_t comment = key.rfind(' ');
            std::cout << "  " << key.substr(0, 24) << "..."
                      << (comment == std::string::npos ? "" : key.substr(comment)) << "\n";
        }
    }
    return 0;
}

}  // namespace

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
    const vxl_fixup::NodeResult r =
        node.run(tool + " run " + document + " --node " + nodeName +
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
    const int sshExit = showSshEquivalence(tool);
    std::cout << "\nThe machine itself was not changed: every change above stayed in the nodes.\n";
    return r.exitCode != 0 ? r.exitCode : sshExit;
}
