// Stopping and deconfiguring daemons inside a test node: the real /bin/ps
// looks at the node's own processes, where a copy of sleep runs under the
// daemon's name; /sbin/service and /sbin/chkconfig are fakes that log their
// calls and answer as each case sets.
#include <cstdlib>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/daemon/sTaskDaemonProcesses.h"

namespace vxl_fixup {
namespace {

const std::string kService = "/sbin/service", kChkconfig = "/sbin/chkconfig";

TEST(DaemonProcessesNodeTest, StopsAndDeconfiguresOnlyTheTwoDaemons) {
    VXL_REQUIRE_TEST_NODE();
    // The calls, one a line.
    const std::string stopAvahi = kService + " [avahi-daemon] [stop]\n";
    const std::string avahiOff = kChkconfig + " [avahi-daemon] [off]\n";
    const std::string stopProxyt = kService + " [proxyt] [stop]\n";
    const std::string listProxyt = kChkconfig + " [--list] [proxyt]\n";
    const std::string proxytOff = kChkconfig + " [proxyt] [off]\n";
    const std::string notListed = "--list";  // chkconfig --list fails
    const std::string failingStop = "avahi-daemon";
    const struct {
        std::string name, running, failing;  // failing: first argument whose call fails
        bool chkconfig;
        std::string outcome, calls;
    } cases[] = {
        {"avahi-daemon", "avahi-daemon", "", true, "SUCCESSFUL", stopAvahi + avahiOff},
        {"avahi-daemon", "", "", true, "SUCCESSFUL", avahiOff},
        {"avahi-daemon", "avahi-daemonx", "", true, "SUCCESSFUL", avahiOff},
        {"proxyt", "proxyt", "", true, "SUCCESSFUL", stopProxyt + listProxyt + proxytOff},
        {"proxyt", "", "", true, "SUCCESSFUL", listProxyt + proxytOff},
        {"proxyt", "", notListed, true, "UNKNOWN", listProxyt},
        {"proxyt", "proxyt", notListed, true, "SUCCESSFUL", stopProxyt + listProxyt},
        {"avahi-daemon", "avahi-daemon", failingStop, true,
         "FAILED Vxlg 9061 [avahi-daemon] [node1] [/sbin/service  avahi-daemon stop] [denied] "
         "native [(/sbin/service  avahi-daemon stop)] [1] [denied]",
         stopAvahi},
        {"avahi-daemon", "", failingStop, true,
         "FAILED Vxlg 9062 [avahi-daemon] [node1] [/sbin/chkconfig  avahi-daemon off] [denied] "
         "native [(/sbin/chkconfig  avahi-daemon off)] [1] [denied]",
         avahiOff},
        {"avahi-daemon", "", "", false,
         "FAILED Vxlg 9020 [/sbin/chkconfig] [node1] "
         "Vxlg 9062 [avahi-daemon] [node1] [/sbin/chkconfig  avahi-daemon off] []",
         ""},
        {"sshd", "sshd", "", true, "FAILED Vxlg 9060 [sshd]", ""},
        {"", "avahi-daemon", "", true, "FAILED Vxlg 9031", ""},
    };
    for (const auto& c : cases) {
        TestNode node;
        vxl_test::addAnsweringTool(node, kService);
        if (c.chkconfig) vxl_test::addAnsweringTool(node, kChkconfig);
        for (const std::string& tool : {kService, kChkconfig}) {
            if (!c.failing.empty()) vxl_test::setAnswer(node, tool, c.failing, "", "denied\n", 1);
        }
        // A copy of sleep named as the daemon, once ps sees it.
        const std::string start = "cp /bin/sleep /var/tmp/" + c.running + " && (/var/tmp/" +
                                  c.running + " 600 >/dev/null 2>&1 &) && until ps -C " +
                                  c.running + " >/dev/null; do sleep 0.01; done";
        // The last NAME item counts.
        const vxl_test::Fixed r = vxl_test::fixInNode<sTaskDaemonProcesses>(
            node, {{"TASKDAEMONNOTRUNNING", {{"NAME", "sshd"}, {"NAME", c.name}}}},
            [&] { return c.running.empty() ? 0 : std::system(start.c_str()); });
        EXPECT_EQ(r.lines, std::vector<std::string>{c.outcome}) << c.name;
        EXPECT_EQ(r.fileContent(vxl_test::kToolCallLog).value_or(""), c.calls) << c.outcome;
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
