// Stopping and deconfiguring daemons inside a test node: the real /bin/ps
// looks at the node's own processes, where a copy of sleep runs under the
// daemon's name; /sbin/service and /sbin/chkconfig are fakes that log their
// calls and answer as each case sets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/daemon/sTaskDaemonProcesses.h"

namespace vxl_fixup {
namespace {

const std::string kService = "/sbin/service", kChkconfig = "/sbin/chkconfig";

// Inside the node: a copy of sleep running as name, once the kernel knows
// the process by that name. 0 on success.
int startFakeDaemon(const std::string& name) {
    const std::string copy = "/var/tmp/" + name;
    if (std::system(("cp /bin/sleep " + copy).c_str()) != 0) return 92;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(copy.c_str(), name.c_str(), "600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; pid > 0 && i < 500; ++i) {
        std::string comm;
        std::ifstream("/proc/" + std::to_string(pid) + "/comm") >> comm;
        if (comm == name) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 93;
}

TEST(DaemonProcessesNodeTest, StopsAndDeconfiguresOnlyTheTwoDaemons) {
    VXL_REQUIRE_TEST_NODE();
    const std::string stopAvahi = kService + " [avahi-daemon] [stop]";
    const std::string avahiOff = kChkconfig + " [avahi-daemon] [off]";
    const std::string stopProxyt = kService + " [proxyt] [stop]";
    const std::string listProxyt = kChkconfig + " [--list] [proxyt]";
    const std::string proxytOff = kChkconfig + " [proxyt] [off]";
    const std::string notListed = "--list";  // chkconfig --list fails
    const std::string failingStop = "avahi-daemon";
    struct Case {
        std::string name, running, failing;  // failing: first argument whose call fails
        bool chkconfig;
        std::string outcome;
        std::vector<std::string> calls;
    } cases[] = {
        {"avahi-daemon", "avahi-daemon", "", true, "SUCCESSFUL", {stopAvahi, avahiOff}},
        {"avahi-daemon", "", "", true, "SUCCESSFUL", {avahiOff}},
        {"avahi-daemon", "avahi-daemonx", "", true, "SUCCESSFUL", {avahiOff}},
        {"proxyt", "proxyt", "", true, "SUCCESSFUL", {stopProxyt, listProxyt, proxytOff}},
        {"proxyt", "", "", true, "SUCCESSFUL", {listProxyt, proxytOff}},
        {"proxyt", "", notListed, true, "UNKNOWN", {listProxyt}},
        {"proxyt", "proxyt", notListed, true, "SUCCESSFUL", {stopProxyt, listProxyt}},
        {"avahi-daemon",
         "avahi-daemon",
         failingStop,
         true,
         "FAILED Vxlg 9061 [avahi-daemon] [node1] [/sbin/service  avahi-daemon stop] [denied] "
         "native [(/sbin/service  avahi-daemon stop)] [1] [denied]",
         {stopAvahi}},
        {"avahi-daemon",
         "",
         failingStop,
         true,
         "FAILED Vxlg 9062 [avahi-daemon] [node1] [/sbin/chkconfig  avahi-daemon off] [denied] "
         "native [(/sbin/chkconfig  avahi-daemon off)] [1] [denied]",
         {avahiOff}},
        {"avahi-daemon",
         "",
         "",
         false,
         "FAILED Vxlg 9020 [/sbin/chkconfig] [node1] "
         "Vxlg 9062 [avahi-daemon] [node1] [/sbin/chkconfig  avahi-daemon off] []",
         {}},
        {"sshd", "sshd", "", true, "FAILED Vxlg 9060 [sshd]", {}},
        {"", "avahi-daemon", "", true, "FAILED Vxlg 9031", {}},
    };
    for (const Case& c : cases) {
        TestNode node;
        vxl_test::addAnsweringTool(node, kService);
        if (c.chkconfig) vxl_test::addAnsweringTool(node, kChkconfig);
        for (const std::string& tool : {kService, kChkconfig}) {
            if (!c.failing.empty()) vxl_test::setAnswer(node, tool, c.failing, "", "denied\n", 1);
        }
        const std::string running = c.running;
        // The last NAME item counts.
        const vxl_test::Fixed r = vxl_test::fixInNode<sTaskDaemonProcesses>(
            node, {{"TASKDAEMONNOTRUNNING", {{"NAME", "sshd"}, {"NAME", c.name}}}},
            [&running] { return running.empty() ? 0 : startFakeDaemon(running); });
        EXPECT_EQ(r.lines, std::vector<std::string>{c.outcome}) << c.name;
        EXPECT_EQ(r.toolCalls(), c.calls) << c.name << " " << c.outcome;
        if (c.outcome.find(" 9060 ") != std::string::npos || c.name.empty()) {
            EXPECT_EQ(r.commands(), std::vector<std::string>{}) << "not even ps runs: " << c.name;
        }
    }
    const vxl_test::Fixed r = vxl_test::fixInNode<sTaskDaemonProcesses>(
        TestNode(), {{"TASKDAEMONLIVELINESS", {{"NAME", "avahi-daemon"}}}});
    EXPECT_EQ(r.lines, std::vector<std::string>{"UNKNOWN"});
}

}  // namespace
}  // namespace vxl_fixup
