// Pinning nodes, resource use and the nys.hwt resource inside a test node,
// with fake cluster tools under the cluster home's bin/ that log their calls
// and answer as each case sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/cluster/sTaskClusterSettings.h"

namespace vxl_fixup {
namespace {

using vxl_test::TaskInstance;

// Blanks and a substitution in the home: it must reach the shell as one word.
const std::string kHome = "/opt/qhm home $(id)";
const std::string kBin = kHome + "/bin/";

struct Answer {
    std::string firstArg;  // "" answers every call
    std::string out, err;
    int code;
};

NodeResult runTool(const std::string& taskId, const std::string& tool,
                   const std::vector<Answer>& answers, const std::string& home = kHome) {
    TestNode node;
    vxl_test::addAnsweringTool(node, kBin + tool);
    for (const Answer& a : answers) {
        vxl_test::setAnswer(node, kBin + tool, a.firstArg, a.out, a.err, a.code);
    }
    TaskInstance instance{taskId, {{"QHMHOME", "/ignored"}, {"QHMHOME", home}}, {}, {}};
    if (home.empty()) instance.data.clear();
    NodeResult r = vxl_test::fixInFreshNode<sTaskClusterSettings>(node, instance);
    EXPECT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.exitCode, 0) << r.stderrText;
    return r;
}

// Pinning needs two tools; the listing answers, the control tool as given.
NodeResult pin(const std::string& listing, int listingCode, int pinCode) {
    TestNode node;
    vxl_test::addAnsweringTool(node, kBin + "membview");
    vxl_test::setAnswer(node, kBin + "membview", "", listing, "membview: stack down\n",
                        listingCode);
    vxl_test::addAnsweringTool(node, kBin + "qhmctl");
    vxl_test::setAnswer(node, kBin + "qhmctl", "", "", "qhmctl: node busy\n", pinCode);
    TaskInstance instance{"TASKPINNODES", {{"QHMHOME", kHome}}, {}, {}};
    NodeResult r = vxl_test::fixInFreshNode<sTaskClusterSettings>(node, instance);
    EXPECT_EQ(r.exitCode, 0) << r.setupError << r.stderrText;
    return r;
}

TEST(ClusterToolsNodeTest, PinsOnlyTheNodesListedAsUnpinned) {
    VXL_REQUIRE_TEST_NODE();
    NodeResult r =
        pin("node1 1 Pinned\n"
            "node2 2 Unpinned\n"
            "\n"
            "node3\t3   Unpinned\n"
            "node4 4 unpinned\n"
            "node5 5 extra Unpinned\n"
            "Unpinned\n"
            "n$(reboot)`id`;x 6 Unpinned\n",
            0, 0);
    EXPECT_EQ(r.stdoutText, "SUCCESSFUL\n");
    EXPECT_EQ(vxl_test::toolCalls(r),
              (std::vector<std::string>{kBin + "membview [-t] [-n]",
                                        kBin + "qhmctl [pin] [hbeat] [-n] [node2] [node3] "
                                               "[n$(reboot)`id`;x]"}));
    EXPECT_NE(vxl_test::traceText(r).find("(Pinning the nodes with hbeat are ( node2 node3 "
                                          "n$(reboot)`id`;x ) from the hostweave home ( " +
                                          kHome + " ))"),
              std::string::npos);
}

TEST(ClusterToolsNodeTest, PinningFailures) {
    VXL_REQUIRE_TEST_NODE();
    const std::string membview = kBin + "membview", qhmctl = kBin + "qhmctl";
    NodeResult r = pin("node1 1 Pinned\nnode2 2 Pinned\n", 0, 0);
    EXPECT_EQ(r.stdoutText, "FAILED\nVxlg 9031\n") << "nothing to pin";
    EXPECT_EQ(vxl_test::toolCalls(r), std::vector<std::string>{membview + " [-t] [-n]"});

    r = pin("", 2, 0);
    EXPECT_EQ(r.stdoutText,
              "FAILED\n"
              "Vxlg 9065 [" +
                  membview +
                  "  -t -n] [node1] [membview: stack down]\n"
                  "native [('" +
                  membview + "'  -t -n)] [2] [membview: stack down]\n");
    EXPECT_EQ(vxl_test::toolCalls(r), std::vector<std::string>{membview + " [-t] [-n]"});

    r = pin("node2 2 Unpinned\n", 0, 4);
    EXPECT_EQ(r.stdoutText,
              "FAILED\n"
              "Vxlg 9066 [node2] [" +
                  qhmctl +
                  "  pin hbeat -n node2] [node1] [qhmctl: node busy]\n"
                  "native [('" +
                  qhmctl + "'  pin hbeat -n node2)] [4] [qhmctl: node busy]\n");
}

TEST(ClusterToolsNodeTest, EnablesResourceUse) {
    VXL_REQUIRE_TEST_NODE();
    const std::string qhmctl = kBin + "qhmctl";
    NodeResult r = runTool("TASKQHMRESOURCEPARAMS", "qhmctl", {});
    EXPECT_EQ(r.stdoutText, "SUCCESSFUL\n");
    EXPECT_EQ(vxl_test::toolCalls(r),
              std::vector<std::string>{qhmctl + " [set] [resource] [use] [1]"});

    r = runTool("TASKQHMRESOURCEPARAMS", "qhmctl", {{"", "", "qhmctl: not allowed\n", 1}});
    EXPECT_EQ(r.stdoutText,
              "FAILED\n"
              "Vxlf 5718 [" +
                  qhmctl +
                  "  set resource use 1] [node1] [qhmctl: not allowed]\n"
                  "native [('" +
                  qhmctl + "'  set resource use 1)] [1] [qhmctl: not allowed]\n");
}

TEST(ClusterToolsNodeTest, DisablesTheHwtResourceAndStopsItWhenItRuns) {
    VXL_REQUIRE_TEST_NODE();
    const std::string rescmd = kBin + "rescmd";
    const std::string disable = rescmd + " [disable] [hostsvcs] [-g]";
    const std::string status = rescmd + " [status] [hostsvcs]";
    const std::string stop = rescmd + " [stop] [hostsvcs] [-g]";
    const std::string statusNative =
        "native [('" + rescmd + "'  status hostsvcs | /bin/grep HWT | /bin/grep running)] [1] []\n";
    const std::string report = "Resource ons is running on node1\nHWT is running on node1\n";
    struct Case {
        const char* what;
        std::vector<Answer> answers;
        const std::string outcome;
        std::vector<std::string> calls;
    } cases[] = {
        {"running", {{"status", report, "", 0}}, "SUCCESSFUL\n", {disable, status, stop}},
        {"not running",
         {{"status", "HWT is not running on node1\n", "", 0}},
         "SUCCESSFUL\noutput [HWT is not running on node1]\n",
         {disable, status}},
        {"no HWT line",
         {{"status", "Resource ons is running on node1\n", "", 0}},
         "FAILED\nVxlg 9074 [nys.hwt] [" + rescmd + " status hostsvcs] [node1] []\n" + statusNative,
         {disable, status}},
        {"disable fails, the rest succeeds",
         {{"disable", "", "rescmd: permission denied\n", 1}, {"status", report, "", 0}},
         "FAILED\nVxlg 9072 [nys.hwt] [" + rescmd +
             "  disable hostsvcs -g] [node1] [rescmd: permission denied]\n"
             "native [('" +
             rescmd + "'  disable hostsvcs -g)] [1] [rescmd: permission denied]\n",
         {disable, status, stop}},
        {"stop fails",
         {{"status", report, "", 0}, {"stop", "", "rescmd: timed out\n", 3}},
         "FAILED\nVxlg 9073 [nys.hwt] [" + rescmd +
             "  stop hostsvcs -g] [node1] [rescmd: timed out]\n"
             "native [('" +
             rescmd + "'  stop hostsvcs -g)] [3] [rescmd: timed out]\n",
         {disable, status, stop}},
    };
    for (const Case& c : cases) {
        NodeResult r = runTool("CHECK_HWT_RESOURCE", "rescmd", c.answers);
        EXPECT_EQ(r.stdoutText, c.outcome) << c.what;
        EXPECT_EQ(vxl_test::toolCalls(r), c.calls) << c.what;
    }
}

TEST(ClusterToolsNodeTest, AClusterHomeThatCannotBeUsedRunsNothing) {
    VXL_REQUIRE_TEST_NODE();
    for (const char* id : {"TASKPINNODES", "TASKQHMRESOURCEPARAMS", "CHECK_HWT_RESOURCE"}) {
        for (const std::string home : {"", "opt/qhm home $(id)"}) {
            NodeResult r = runTool(id, "qhmctl", {}, home);
            EXPECT_EQ(r.stdoutText, "FAILED\nVxlg 9031\n") << id << " home '" << home << "'";
            EXPECT_TRUE(vxl_test::toolCalls(r).empty()) << id;
        }
    }
    // A home without the tools: the runner names the missing tool.
    NodeResult r = runTool("TASKQHMRESOURCEPARAMS", "rescmd", {}, "/opt/none");
    EXPECT_EQ(r.stdoutText,
              "FAILED\n"
              "Vxlg 9020 [/opt/none/bin/qhmctl] [node1]\n"
              "Vxlf 5718 [/opt/none/bin/qhmctl  set resource use 1] [node1] []\n");
}

}  // namespace
}  // namespace vxl_fixup
