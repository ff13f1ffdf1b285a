// Runs the example fix-up data document through the command-line tool inside
// a test node, so nothing on this machine changes: the node's kernel values
// are a fake sysctl's, systemctl is a fake and its configuration files are
// copies; its accounts are changed by the real account tools on the node's
// own /etc/passwd and /etc/group. Prints the outcome table, the commands run
// and the lines of each configuration and account file the run changed.
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

// "- " for each line gone, "+ " for each line new.
void printChangedLines(const std::string& beforeText, const std::string& afterText) {
    const std::vector<std::string> before = lines(beforeText), after = lines(afterText);
    const std::set<std::string> old(before.begin(), before.end()), now(after.begin(), after.end());
    for (const std::string& l : before) {
        if (!now.count(l)) std::cout << "- " << l << "\n";
    }
    for (const std::string& l : after) {
        if (!old.count(l)) std::cout << "+ " << l << "\n";
    }
}

// Prints the lines of path the run removed (-) and added (+).
void printLineChanges(const vxl_fixup::NodeResult& r, const std::string& path,
                      const std::string& before) {
    std::cout << "\n== " << path << " changes ==\n";
    printChangedLines(before, r.fileContent(path).value_or(""));
}

// ---- Other kernel and service settings: logind, the service manager and
// reverse-path filtering. Their fix-up scripts (examples/fixup_*.sh) are
// installed into the work directory, where a SCRIPT without PATH is found.

const char* const kLogindConf =
    "[Login]\n"
    "#KillUserProcesses=no\n"
    "#RemoveIPC=yes\n";
const char* const kSystemConf =
    "[Manager]\n"
    "#DefaultTasksMax=15%\n";
const char* const kServiceFiles[][2] = {{"/etc/systemd/logind.conf", kLogindConf},
                                        {"/etc/systemd/system.conf", kSystemConf}};
const char* const kFixupScripts[] = {"fixup_logind_ipc.sh", "fixup_rp_filter.sh"};

bool addServiceSettings(vxl_fixup::TestNode& node, const std::string& examplesDir,
                        const std::string& workDir) {
    for (const auto& file : kServiceFiles) node.addFile(file[0], file[1]);
    node.addFakeTool("/bin/systemctl");
    for (const char* name : kFixupScripts) {
        std::ifstream in(examplesDir + name);
        if (!in) {
            std::cerr << "cannot read the fix-up script " << examplesDir << name << "\n";
            return false;
        }
        std::ostringstream text;
        text << in.rdbuf();
        node.addFile(workDir + "/" + name, text.str(), 0755);
    }
    return true;
}

void printServiceSettingChanges(const vxl_fixup::NodeResult& r) {
    for (const auto& file : kServiceFiles) printLineChanges(r, file[0], file[1]);
}

// ---- End of other kernel and service settings.

// ---- Users and groups -------------------------------------------------------
// Accounts the node starts with (made by the real tools before the run), so
// the example document has a group id and a user id to correct. The account
// files are copied after this, to show what the run itself changed.
const char* const kAccountSetup =
    "groupadd -g 54000 dbgrp && useradd -u 54001 -g dbgrp -m dbowner && "
    "cp /etc/passwd /var/tmp/passwd.before && cp /etc/group /var/tmp/group.before";

void printAccountChanges(const vxl_fixup::NodeResult& r) {
    std::cout << "\n(the node started with group dbgrp, gid 54000, and user dbowner, uid 54001)\n";
    for (const char* file : {"passwd", "group"}) {
        printLineChanges(r, std::string("/etc/") + file,
                         r.fileContent(std::string("/var/tmp/") + file + ".before").value_or(""));
    }
}
// -----------------------------------------------------------------------------

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
        .setReadOnly("kernel.panic_on_oops")
        .set("net.ipv4.conf.eth1.rp_filter", "1");
    node.addDirectory("/var/tmp/vxlfixup-demo", 0700);
    const size_t slash = document.rfind('/');
    const std::string examplesDir = slash == std::string::npos ? "" : document.substr(0, slash + 1);
    if (!addServiceSettings(node, examplesDir, "/var/tmp/vxlfixup-demo")) return 2;
    const vxl_fixup::NodeResult r =
        node.run(std::string(kAccountSetup) + " && " + tool + " run " + document + " --node " +
                 nodeName + " --work-dir /var/tmp/vxlfixup-demo --trace-level 0");
    if (!r.ran()) {
        std::cerr << "the test node could not run: " << r.setupError << "\n";
        return 2;
    }
    std::cout << "== vxlfixup run (inside a test node for " << nodeName << ") ==\n"
              << r.stdoutText << r.stderrText;
    std::cout << "\n== commands run ==\n";
    for (const std::string& call : r.commandLog()) std::cout << "  " << call << "\n";
    printLineChanges(r, "/etc/sysctl.conf", kSysctlConf);
    printServiceSettingChanges(r);
    printAccountChanges(r);
    std::cout << "\nThe machine itself was not changed: every change above stayed in the node.\n";
    return r.exitCode;
}
