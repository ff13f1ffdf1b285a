// Runs the example fix-up data document through the command-line tool inside
// a test node, so nothing on this machine changes: the node's kernel values
// are a fake sysctl's and its /etc/sysctl.conf and limits files are copies.
// Prints the outcome table, the sysctl calls and the lines of the
// configuration files the run changed.
#include <fstream>
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

// Lines that left the file ("- ") and lines that came into it ("+ ").
void printChangedLines(const std::string& path, const std::string& before,
                       const vxl_fixup::NodeResult& r) {
    std::cout << "\n== " << path << " changes ==\n";
    const std::vector<std::string> old = lines(before);
    const std::vector<std::string> now = lines(r.fileContent(path).value_or(""));
    const std::set<std::string> oldSet(old.begin(), old.end()), nowSet(now.begin(), now.end());
    for (const std::string& l : old) {
        if (!nowSet.count(l)) std::cout << "- " << l << "\n";
    }
    for (const std::string& l : now) {
        if (!oldSet.count(l)) std::cout << "+ " << l << "\n";
    }
}

// --- Shell limits and locked memory ---------------------------------------
// The node's PAM limits files, an SSH daemon that uses PAM, and the fix-up
// script of the locked-memory task (from examples/) where the document says.
const char* const kLimitsConf =
    "# /etc/security/limits.conf\n"
    "#<domain>  <type>  <item>   <value>\n"
    "#*         soft    core     0\n"
    "oracle     soft    nofile   1024\n"
    "oracle     hard    nofile   65536\n"
    "oracle     soft    nproc    2047\n"
    "# End of file\n";
const char* const kOracleLimits =
    "oracle   soft   nproc     4096\n"
    "oracle   hard   memlock   1048576\n";
const char* const kOracleLimitsPath = "/etc/security/limits.d/90-oracle.conf";

void addLimitsFiles(vxl_fixup::TestNode& node, const std::string& document) {
    node.addFile("/etc/security/limits.conf", kLimitsConf)
        .addFile(kOracleLimitsPath, kOracleLimits)
        .addFile("/etc/ssh/sshd_config", "UsePAM yes\n");
    const std::string examples = document.substr(0, document.rfind('/') + 1);
    std::ifstream script(examples + "memlock_limits_file.sh");
    std::ostringstream text;
    text << script.rdbuf();
    node.addFile("/var/tmp/vxlfixup-scripts/memlock_limits_file.sh", text.str(), 0755);
}

void printLimitsChanges(const vxl_fixup::NodeResult& r) {
    printChangedLines("/etc/security/limits.conf", kLimitsConf, r);
    printChangedLines(kOracleLimitsPath, kOracleLimits, r);
}
// ---------------------------------------------------------------------------

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
    addLimitsFiles(node, document);
    node.addDirectory("/var/tmp/vxlfixup-demo", 0700);
    const vxl_fixup::NodeResult r = node.run(tool + " run " + document + " --node " + nodeName +
                                             " --work-dir /var/tmp/vxlfixup-demo --trace-level 0");
    if (!r.ran()) {
        std::cerr << "the test node could not run: " << r.setupError << "\n";
        return 2;
    }
    std::cout << "== vxlfixup run (inside a test node for " << nodeName << ") ==\n"
              << r.stdoutText << r.stderrText;
    std::cout << "\n== sysctl calls ==\n";
    for (const std::string& call : r.commandLog()) std::cout << "  " << call << "\n";
    printChangedLines("/etc/sysctl.conf", kSysctlConf, r);
    printLimitsChanges(r);
    std::cout << "\nThe machine itself was not changed: every change above stayed in the node.\n";
    return r.exitCode;
}
