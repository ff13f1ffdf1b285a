// The simulated nodes, driven through their program as the fleet tests and
// the benches drive them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "sandbox/SimNodes.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "util/ShellQuote.h"

using vxl_test::runShell;
using vxl_test::ShellRun;
using vxl_test::TempDir;

namespace {

const std::string kProgram = VXL_SIMNODE_PATH;

ShellRun simnode(const std::string& words) { return runShell(kProgram + " " + words); }

}  // namespace

// Two nodes: each its own name, file system and processes, one network
// between them that is not the machine's; stopped, nothing of them is left.
TEST(SimNodesNodeTest, StartExecAndStopLeaveNothing) {
    VXL_REQUIRE_TEST_NODE();
    TempDir scratch;
    const std::string dir = scratch.path() + "/fleet";
    const std::string etcBefore = TempDir::fingerprint("/etc");

    ShellRun started = simnode("start 2 --dir " + dir + " --sysctl kernel.shmmni=8192");
    ASSERT_EQ(started.exitCode, 0) << started.output;
    const std::string at = " --dir " + dir + " ";
    const std::string hostNet = runShell("readlink /proc/self/ns/net").output;

    struct Row {
        std::string what, node, command;
        int exitCode;
        std::string output;  // "*": anything
    };
    const std::vector<Row> rows = {
        {"own hostname", "node01", "hostname", 0, "node01\n"},
        {"own hostname", "node02", "hostname", 0, "node02\n"},
        {"other nodes by name", "node01", "getent hosts node02", 0, "127.0.1.2       node02\n"},
        {"own address is local", "node02",
         "python3 -c 'import socket; s=socket.socket(); s.bind((\"127.0.1.2\", 0)); print(1)'", 0,
         "1\n"},
        {"a file of its own", "node01",
         "echo one > /root/vxl-simnode-file && cat /root/vxl-simnode-file", 0, "one\n"},
        {"not in the other node", "node02", "test -e /root/vxl-simnode-file; echo $?", 0, "1\n"},
        {"own processes only", "node01", "test $(ls -d /proc/[0-9]* | wc -l) -lt 10 && echo few", 0,
         "few\n"},
        {"kernel values from its sysctl", "node01", "sysctl -n kernel.shmmni kernel.panic", 0,
         "8192\n0\n"},
        {"kernel settings read-only", "node02", "echo 1 > /proc/sys/kernel/panic", 2, "*"},
        {"the nodes' folder hidden", "node01", "test -e " + dir + "; echo $?", 0, "1\n"},
        {"through the wrapper, as the chroot connection calls it", "",
         dir + "/node02/chroot-exe " + dir + "/node02/root /bin/sh -c 'hostname; echo \"$0\"'", 0,
         "node02\n/bin/sh\n"},
        {"no such node", "node03", "true", 1, "*"},
    };
    for (const Row& row : rows) {
        const ShellRun r = row.node.empty() ? runShell(row.command)
                                            : simnode("exec" + at + row.node + " -- sh -c " +
                                                      vxl_fixup::shellQuote(row.command));
        EXPECT_EQ(r.exitCode, row.exitCode) << row.what << ": " << r.output;
        EXPECT_EQ(row.output == "*" ? "*" : r.output, row.output) << row.what;
    }
    const std::string nodeNet =
        simnode("exec" + at + "node01 -- readlink /proc/self/ns/net").output;
    EXPECT_EQ(simnode("exec" + at + "node02 -- readlink /proc/self/ns/net").output, nodeNet);
    EXPECT_NE(nodeNet, hostNet);
    EXPECT_FALSE(TempDir::exists("/root/vxl-simnode-file"));
    EXPECT_EQ(simnode("list" + at).output, "node01 127.0.1.1 running\nnode02 127.0.1.2 running\n");
    const std::string inventory = TempDir::read(dir + "/inventory.ini");
    EXPECT_NE(inventory.find("node02 ansible_connection=community.general.chroot"),
              std::string::npos);
    // A second start in the same folder is refused and leaves the nodes be.
    EXPECT_EQ(simnode("start 1 --dir " + dir).exitCode, 1);

    std::vector<std::string> pids;
    for (const char* node : {"node01", "node02"}) {
        auto state = vxl_fixup::simnode::parseState(TempDir::read(dir + "/" + node + "/state"));
        ASSERT_TRUE(state);
        for (pid_t p : {state->supervisor, state->init, state->keeper})
            pids.push_back(std::to_string(p));
    }
    ShellRun stopped = simnode("stop" + at);
    ASSERT_EQ(stopped.exitCode, 0) << stopped.output;
    EXPECT_FALSE(TempDir::exists(dir));
    for (const std::string& pid : pids) EXPECT_FALSE(TempDir::exists("/proc/" + pid)) << pid;
    EXPECT_EQ(runShell("grep -c " + scratch.path() + " /proc/self/mountinfo").output, "0\n");
    EXPECT_EQ(TempDir::fingerprint("/etc"), etcBefore);
    EXPECT_EQ(simnode("stop" + at).exitCode, 1);  // nothing left to stop
}
