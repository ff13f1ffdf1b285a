// Stopping and deconfiguring daemons inside a test node: the real /bin/ps
// looks at the node's own processes, where a copy of sleep runs under the
// daemon's name; /sbin/service and /sbin/chkconfig are fakes that log their
// calls and answer as each case sets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/daemon/sTaskDaemonProcesses.h"

namespace vxl_fixup {
namespace {

using vxl_test::TaskInstance;

const std::string kService = "/sbin/service";
const std::string kChkconfig = "/sbin/chkconfig";

// Inside the node: starts a copy of sleep named name and waits until the
// kernel knows the process by that name. 0 on success.
int startFakeDaemon(const std::string& name) {
    const std::string copy = "/var/tmp/" + name;
    if (std::system(("cp /bin/sleep " + copy).c_str()) != 0) return 92;
    const pid_t pid = ::fork();
    if (pid < 0) return 93;
    if (pid == 0) {
        ::execl(copy.c_str(), name.c_str(), "600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
    for (int i = 0; i < 500; ++i) {
        std::string seen;
        std::ifstream(comm) >> seen;
        if (seen == name) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 94;
}

struct Answer {
    std::string tool, firstArg, out, err;
    int code;
};

NodeResult fixDaemon(const TaskInstance& instance, const std::string& runningDaemon,
                     const std::vector<Answer>& answers, bool withChkconfig = true) {
    TestNode node;
    vxl_test::addAnsweringTool(node, kService);
    if (withChkconfig) vxl_test::addAnsweringTool(node, kChkconfig);
    for (const Answer& a : answers) {
        vxl_test::setAnswer(node, a.tool, a.firstArg, a.out, a.err, a.code);
    }
    std::function<int()> setup;
    if (!runningDaemon.empty()) setup = [runningDaemon] { return startFakeDaemon(runningDaemon); };
    NodeResult r = vxl_test::fixInFreshNode<sTaskDaemonProcesses>(node, instance, setup);
    EXPECT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.exitCode, 0) << r.stderrText;
    return r;
}

TaskInstance notRunning(const std::string& name) {
    return {"TASKDAEMONNOTRUNNING", {{"NAME", "sshd"}, {"NAME", name}}, {}, {}};
}

TEST(DaemonProcessesNodeTest, StopsAndDeconfiguresTheDaemons) {
    VXL_REQUIRE_TEST_NODE();
    const std::string serviceStop = kService + " [avahi-daemon] [stop]";
    const std::string avahiOff = kChkconfig + " [avahi-daemon] [off]";
    const std::string proxytList = kChkconfig + " [--list] [proxyt]";
    const std::string proxytOff = kChkconfig + " [proxyt] [off]";
    const Answer stopped{kService, "", "Stopping avahi-daemon: [  OK  ]\n", "", 0};
    const Answer proxytUnknown{kChkconfig, "--list", "",
                               "error reading information on service proxyt\n", 1};
    struct Case {
        const char* what;
        std::string name, running;
        std::vector<Answer> answers;
        std::string outcome;
        std::vector<std::string> calls;
    } cases[] = {
        {"avahi running: the last command's output stands",
         "avahi-daemon",
         "avahi-daemon",
         {stopped},
         "SUCCESSFUL\n",
         {serviceStop, avahiOff}},
        {"avahi not running: no 9063, only chkconfig",
         "avahi-daemon",
         "",
         {},
         "SUCCESSFUL\n",
         {avahiOff}},
        {"a daemon of another name does not count as running",
         "avahi-daemon",
         "avahi-daemonx",
         {},
         "SUCCESSFUL\n",
         {avahiOff}},
        {"proxyt running and configured",
         "proxyt",
         "proxyt",
         {},
         "SUCCESSFUL\n",
         {kService + " [proxyt] [stop]", proxytList, proxytOff}},
        {"proxyt not running, configured",
         "proxyt",
         "",
         {},
         "SUCCESSFUL\n",
         {proxytList, proxytOff}},
        {"proxyt neither running nor configured",
         "proxyt",
         "",
         {proxytUnknown},
         "UNKNOWN\n",
         {proxytList}},
        {"proxyt running, not configured",
         "proxyt",
         "proxyt",
         {proxytUnknown},
         "SUCCESSFUL\n",
         {kService + " [proxyt] [stop]", proxytList}},
    };
    for (const Case& c : cases) {
        NodeResult r = fixDaemon(notRunning(c.name), c.running, c.answers);
        EXPECT_EQ(r.stdoutText, c.outcome) << c.what;
        EXPECT_EQ(vxl_test::toolCalls(r), c.calls) << c.what;
    }
}

TEST(DaemonProcessesNodeTest, FailuresCarryTheToolsErrors) {
    VXL_REQUIRE_TEST_NODE();
    NodeResult r =
        fixDaemon(notRunning("avahi-daemon"), "avahi-daemon",
                  {{kService, "", "", "Failed to stop avahi-daemon: Access denied\n", 1}});
    EXPECT_EQ(r.stdoutText,
              "FAILED\n"
              "Vxlg 9061 [avahi-daemon] [node1] [/sbin/service  avahi-daemon stop] "
              "[Failed to stop avahi-daemon: Access denied]\n"
              "native [(/sbin/service  avahi-daemon stop)] [1] "
              "[Failed to stop avahi-daemon: Access denied]\n");
    EXPECT_EQ(vxl_test::toolCalls(r), std::vector<std::string>{kService + " [avahi-daemon] [stop]"})
        << "start-up is left alone when the stop failed";

    r = fixDaemon(notRunning("avahi-daemon"), "",
                  {{kChkconfig, "", "", "chkconfig: unknown service\n", 1}});
    EXPECT_EQ(r.stdoutText,
              "FAILED\n"
              "Vxlg 9062 [avahi-daemon] [node1] [/sbin/chkconfig  avahi-daemon off] "
              "[chkconfig: unknown service]\n"
              "native [(/sbin/chkconfig  avahi-daemon off)] [1] [chkconfig: unknown service]\n");

    // What a node without chkconfig reports.
    r = fixDaemon(notRunning("avahi-daemon"), "", {}, false);
    EXPECT_EQ(r.stdoutText,
              "FAILED\n"
              "Vxlg 9020 [/sbin/chkconfig] [node1]\n"
              "Vxlg 9062 [avahi-daemon] [node1] [/sbin/chkconfig  avahi-daemon off] []\n");
}

TEST(DaemonProcessesNodeTest, NamesOtherThanTheTwoDaemonsRunNothing) {
    VXL_REQUIRE_TEST_NODE();
    struct Case {
        TaskInstance instance;
        std::string outcome;
    } cases[] = {
        {notRunning("sshd"), "FAILED\nVxlg 9060 [sshd]\n"},
        {notRunning("avahi-daemon;reboot"), "FAILED\nVxlg 9060 [avahi-daemon;reboot]\n"},
        {notRunning("avahi daemon"), "FAILED\nVxlg 9060 [avahi daemon]\n"},
        {notRunning("Avahi-Daemon"), "FAILED\nVxlg 9060 [Avahi-Daemon]\n"},
        {notRunning(""), "FAILED\nVxlg 9031\n"},
        {{"TASKDAEMONNOTRUNNING", {}, {}, {}}, "FAILED\nVxlg 9031\n"},
        {{"TASKDAEMONLIVELINESS", {{"NAME", "avahi-daemon"}}, {}, {}}, "UNKNOWN\n"},
    };
    for (const Case& c : cases) {
        NodeResult r = fixDaemon(c.instance, "avahi-daemon", {});
        EXPECT_EQ(r.stdoutText, c.outcome);
        EXPECT_TRUE(vxl_test::toolCalls(r).empty()) << c.outcome;
        EXPECT_EQ(vxl_test::traceText(r).find("Executing command"), std::string::npos)
            << "not even ps: " << c.outcome;
    }
}

}  // namespace
}  // namespace vxl_fixup
