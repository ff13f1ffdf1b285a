// Runs the example fix-up data document through the command-line tool inside
// a test node, so nothing on this machine changes: the node's kernel values
// are a fake sysctl's, systemctl is a fake, its configuration files are
// copies, and its accounts are changed by the real account tools on the
// node's own /etc/passwd and /etc/group. Prints the outcome table, the
// commands run and the lines of each configuration and account file the run
// changed.
//
// Each task family adds what its example instances need in its own section:
// fixture files (watched: their changed lines are printed), fix-up scripts
// from examples/, and setup commands run in the node before the tool. Then
// two more test nodes set up SSH user equivalence with "vxlfixup ssh-equiv".
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox/TestNode.h"

namespace {

const char* const kWorkDir = "/var/tmp/vxlfixup-demo";

// A configuration file the node starts with; the demo prints how it changed.
struct WatchedFile {
    const char* path;
    const char* content;
};

// A fix-up script from examples/ and where the document expects it.
struct ExampleScript {
    const char* name;
    const char* directory;
};

// ---- Kernel parameters ------------------------------------------------------
const char* const kSysctlConf =
    "# Kernel settings of this node\n"
    "fs.file-max = 65536\n"
    "kernel.shmmax = 18446744073692774399\n"
    "net.ipv4.ip_local_port_range = 32768 60999\n"
    "kernel.panic_on_oops = 0\n";

void addKernel(vxl_fixup::TestNode& node) {
    node.addFakeSysctl("/sbin/sysctl")
        .set("fs.file-max", "65536")
        .set("kernel.sem", "250\t32000\t100\t128")
        .set("net.ipv4.ip_local_port_range", "32768\t60999")
        .set("kernel.shmmax", "18446744073692774399")
        .set("kernel.panic_on_oops", "0")
        .setReadOnly("kernel.panic_on_oops")
        .set("net.ipv4.conf.eth1.rp_filter", "1");
}

// ---- Shell limits and locked memory -----------------------------------------
// The node's PAM limits files and an SSH daemon that uses PAM.
const char* const kLimitsConf =
    "# /etc/security/limits.conf\n"
    "#<domain>  <type>  <item>   <value>\n"
    "#*         soft    core     0\n"
    "dbowner    soft    nofile   1024\n"
    "dbowner    hard    nofile   65536\n"
    "dbowner    soft    nproc    2047\n"
    "# End of file\n";
const char* const kDbLimits =
    "dbowner  soft   nproc     4096\n"
    "dbowner  hard   memlock   1048576\n";

// ---- Other kernel and service settings: logind and the service manager ------
const char* const kLogindConf =
    "[Login]\n"
    "#KillUserProcesses=no\n"
    "#RemoveIPC=yes\n";
const char* const kSystemConf =
    "[Manager]\n"
    "#DefaultTasksMax=15%\n";

// ---- Users and groups -------------------------------------------------------
// Accounts the node starts with (made by the real tools before the run), so
// the example document has a group id and a user id to correct. The account
// files are copied after this, to show what the run itself changed.
const char* const kAccountSetup =
    "groupadd -g 54000 dbgrp && useradd -u 54001 -g dbgrp -m dbowner && "
    "cp /etc/passwd /var/tmp/passwd.before && cp /etc/group /var/tmp/group.before";
const char* const kAccountNote =
    "(the node started with group dbgrp, gid 54000, and user dbowner, uid 54001)";

// ---- Cluster settings and daemons -------------------------------------------
// A registry file to hand to the cluster's owner, and a running avahi-daemon
// (a copy of sleep, seen by the real ps) that the run stops and deconfigures
// through recording service and chkconfig tools.
const char* const kRegistryFile = "/etc/qhm/tdb.loc";
const char* const kServiceCalls = "/var/tmp/service-calls.log";
const char* const kServiceTool =
    "#!/bin/sh\n"
    "echo \"service $*\" >> /var/tmp/service-calls.log\n"
    "[ \"$2\" = stop ] && kill \"$(cat /run/avahi-daemon.pid)\"\n"
    "exit 0\n";
const char* const kChkconfigTool =
    "#!/bin/sh\necho \"chkconfig $*\" >> /var/tmp/service-calls.log\n";
const char* const kClusterSetup =
    "groupadd -g 54330 qhminst && useradd -M -u 54330 -g qhminst qhmowner && "
    "cp /bin/sleep /var/tmp/avahi-daemon && "
    "{ /var/tmp/avahi-daemon 600 & echo $! > /run/avahi-daemon.pid; } && "
    "until ps -C avahi-daemon >/dev/null; do sleep 0.01; done";

void printClusterChanges(const vxl_fixup::NodeResult& r) {
    std::cout << "\n== " << kRegistryFile << " (was uid 0, gid 0, mode 644) ==\n";
    if (const auto f = r.file(kRegistryFile)) {
        std::cout << "  uid " << f->uid << " (qhmowner), gid " << f->gid << " (qhminst), mode "
                  << std::oct << f->mode << std::dec << "\n";
    }
    std::cout << "\n== service tool calls (avahi-daemon was running) ==\n";
    std::istringstream calls(r.fileContent(kServiceCalls).value_or(""));
    for (std::string call; std::getline(calls, call);) std::cout << "  " << call << "\n";
}

// ---- Every family's fixtures ------------------------------------------------
const WatchedFile kWatchedFiles[] = {
    {"/etc/sysctl.conf", kSysctlConf},
    {"/etc/security/limits.conf", kLimitsConf},
    {"/etc/security/limits.d/90-dbowner.conf", kDbLimits},
    {"/etc/systemd/logind.conf", kLogindConf},
    {"/etc/systemd/system.conf", kSystemConf},
};
// A SCRIPT without PATH is found in the work directory.
const ExampleScript kScripts[] = {
    {"memlock_limits_file.sh", "/var/tmp/vxlfixup-scripts"},
    {"fixup_logind_ipc.sh", kWorkDir},
    {"fixup_rp_filter.sh", kWorkDir},
};
const struct {
    const char* path;
    const char* content;
    mode_t mode;
} kOtherFixtures[] = {
    {"/etc/ssh/sshd_config", "UsePAM yes\n", 0644},
    {kRegistryFile, "tdbconfig_loc=/srv/qhm/tdb\n", 0644},
    {"/sbin/service", kServiceTool, 0755},
    {"/sbin/chkconfig", kChkconfigTool, 0755},
};
const char* const kFakeTools[] = {"/bin/systemctl"};
const char* const kSetupCommands[] = {kClusterSetup, kAccountSetup};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Prints the lines of path the run removed ("- ") and added ("+ ").
void printLineChanges(const vxl_fixup::NodeResult& r, const std::string& path,
                      const std::string& beforeText) {
    std::cout << "\n== " << path << " changes ==\n";
    const std::vector<std::string> before = lines(beforeText);
    const std::vector<std::string> after = lines(r.fileContent(path).value_or(""));
    const std::set<std::string> old(before.begin(), before.end()), now(after.begin(), after.end());
    for (const std::string& l : before) {
        if (!now.count(l)) std::cout << "- " << l << "\n";
    }
    for (const std::string& l : after) {
        if (!old.count(l)) std::cout << "+ " << l << "\n";
    }
}

bool addScript(vxl_fixup::TestNode& node, const std::string& examplesDir,
               const ExampleScript& script) {
    std::ifstream in(examplesDir + script.name);
    if (!in) {
        std::cerr << "cannot read the fix-up script " << examplesDir << script.name << "\n";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    node.addFile(std::string(script.directory) + "/" + script.name, text.str(), 0755);
    return true;
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
    const size_t slash = document.rfind('/');
    const std::string examplesDir = slash == std::string::npos ? "" : document.substr(0, slash + 1);

    vxl_fixup::TestNode node;
    node.setHostname(nodeName);
    addKernel(node);
    for (const WatchedFile& f : kWatchedFiles) node.addFile(f.path, f.content);
    for (const auto& f : kOtherFixtures) node.addFile(f.path, f.content, f.mode);
    for (const char* t : kFakeTools) node.addFakeTool(t);
    node.addDirectory(kWorkDir, 0700);
    for (const ExampleScript& s : kScripts) {
        if (!addScript(node, examplesDir, s)) return 2;
    }
    std::string command;
    for (const char* c : kSetupCommands) command += std::string(c) + " && ";
    command += tool + " run " + document + " --node " + nodeName + " --work-dir " +
               std::string(kWorkDir) + " --trace-level 0";

    const vxl_fixup::NodeResult r = node.run(command);
    if (!r.ran()) {
        std::cerr << "the test node could not run: " << r.setupError << "\n";
        return 2;
    }
    std::cout << "== vxlfixup run (inside a test node for " << nodeName << ") ==\n"
              << r.stdoutText << r.stderrText;
    std::cout << "\n== commands run ==\n";
    for (const std::string& call : r.commandLog()) std::cout << "  " << call << "\n";
    for (const WatchedFile& f : kWatchedFiles) printLineChanges(r, f.path, f.content);
    std::cout << "\n" << kAccountNote << "\n";
    for (const char* file : {"passwd", "group"}) {
        printLineChanges(r, std::string("/etc/") + file,
                         r.fileContent(std::string("/var/tmp/") + file + ".before").value_or(""));
    }
    printClusterChanges(r);
    const int sshExit = showSshEquivalence(tool);
    std::cout << "\nThe machine itself was not changed: every change above stayed in the nodes.\n";
    return r.exitCode != 0 ? r.exitCode : sshExit;
}
