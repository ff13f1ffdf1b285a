// Pinning nodes, resource use and the nys.hwt resource inside a test node,
// with fake membview, qhmctl and rescmd under the cluster home's bin/ that log
// their calls and answer as each case sets.
#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/cluster/sTaskClusterSettings.h"

namespace vxl_fixup {
namespace {

// Blanks and a substitution in the home: it must reach the shell as one word.
const std::string kHome = "/opt/qhm home $(id)";
const std::string kMembview = kHome + "/bin/membview", kQhmctl = kHome + "/bin/qhmctl";
const std::string kRescmd = kHome + "/bin/rescmd";

// " native [('tool'  args)] [code] [text]" as the runner records it.
std::string native(const std::string& tool, const std::string& args, int code,
                   const std::string& text) {
    return " native [('" + tool + "'  " + args + ")] [" + std::to_string(code) + "] [" + text + "]";
}

TEST(ClusterToolsNodeTest, EachTaskDrivesItsToolAndReportsItsFailure) {
    VXL_REQUIRE_TEST_NODE();
    using vxl_test::setAnswer;
    const std::string listing =
        "node1 1 Pinned\nnode2 2 Unpinned\n\nnode3\t3   Unpinned\n"
        "node4 4 unpinned\nnode5 5 x Unpinned\nUnpinned\n"
        "n$(reboot)`id`;x 6 Unpinned\n";
    // The calls, one a line.
    const std::string list = kMembview + " [-t] [-n]\n";
    const std::string enable = kQhmctl + " [set] [resource] [use] [1]\n";
    const std::string hwt =
        kRescmd + " [disable] [hostsvcs] [-g]\n" + kRescmd + " [status] [hostsvcs]\n";
    const std::string stop = kRescmd + " [stop] [hostsvcs] [-g]\n";
    const auto running = [](TestNode& n) {
        setAnswer(n, kRescmd, "status", "ons is running\nHWT is running on node1\n");
    };
    struct Case {
        const char* id;
        std::string home;
        std::function<void(TestNode&)> answers;
        std::string outcome, calls;
    } cases[] = {
        {"TASKPINNODES", kHome, [&](TestNode& n) { setAnswer(n, kMembview, "", listing); },
         "SUCCESSFUL", list + kQhmctl + " [pin] [hbeat] [-n] [node2] [node3] [n$(reboot)`id`;x]\n"},
        {"TASKPINNODES", kHome,
         [](TestNode& n) { setAnswer(n, kMembview, "", "node1 1 Pinned\n"); }, "FAILED Vxlg 9031",
         list},
        {"TASKPINNODES", kHome,
         [](TestNode& n) { setAnswer(n, kMembview, "", "", "stack down\n", 2); },
         "FAILED Vxlg 9065 [" + kMembview + "  -t -n] [node1] [stack down]" +
             native(kMembview, "-t -n", 2, "stack down"),
         list},
        {"TASKPINNODES", kHome,
         [](TestNode& n) {
             setAnswer(n, kMembview, "", "node2 2 Unpinned\n");
             setAnswer(n, kQhmctl, "", "", "busy\n", 4);
         },
         "FAILED Vxlg 9066 [node2] [" + kQhmctl + "  pin hbeat -n node2] [node1] [busy]" +
             native(kQhmctl, "pin hbeat -n node2", 4, "busy"),
         list + kQhmctl + " [pin] [hbeat] [-n] [node2]\n"},
        {"TASKQHMRESOURCEPARAMS", kHome, [](TestNode&) {}, "SUCCESSFUL", enable},
        {"TASKQHMRESOURCEPARAMS", kHome,
         [](TestNode& n) { setAnswer(n, kQhmctl, "", "", "denied\n", 1); },
         "FAILED Vxlf 5718 [" + kQhmctl + "  set resource use 1] [node1] [denied]" +
             native(kQhmctl, "set resource use 1", 1, "denied"),
         enable},
        {"CHECK_HWT_RESOURCE", kHome, running, "SUCCESSFUL", hwt + stop},
        {"CHECK_HWT_RESOURCE", kHome,
         [](TestNode& n) { setAnswer(n, kRescmd, "status", "HWT is not running\n"); },
         "SUCCESSFUL output [HWT is not running]", hwt},
        {"CHECK_HWT_RESOURCE", kHome,
         [](TestNode& n) { setAnswer(n, kRescmd, "status", "ons is running\n"); },
         "FAILED Vxlg 9074 [nys.hwt] [" + kRescmd + " status hostsvcs] [node1] []" +
             native(kRescmd, "status hostsvcs | /bin/grep HWT | /bin/grep running", 1, ""),
         hwt},
        // A failed disable is not masked by the status and stop after it.
        {"CHECK_HWT_RESOURCE", kHome,
         [&](TestNode& n) {
             running(n);
             setAnswer(n, kRescmd, "disable", "", "denied\n", 1);
         },
         "FAILED Vxlg 9072 [nys.hwt] [" + kRescmd + "  disable hostsvcs -g] [node1] [denied]" +
             native(kRescmd, "disable hostsvcs -g", 1, "denied"),
         hwt + stop},
        {"CHECK_HWT_RESOURCE", kHome,
         [&](TestNode& n) {
             running(n);
             setAnswer(n, kRescmd, "stop", "", "timed out\n", 3);
         },
         "FAILED Vxlg 9073 [nys.hwt] [" + kRescmd + "  stop hostsvcs -g] [node1] [timed out]" +
             native(kRescmd, "stop hostsvcs -g", 3, "timed out"),
         hwt + stop},
        {"TASKPINNODES", "", [](TestNode&) {}, "FAILED Vxlg 9031", ""},
        {"TASKQHMRESOURCEPARAMS", "/opt/none", [](TestNode&) {},
         "FAILED Vxlg 9020 [/opt/none/bin/qhmctl] [node1] "
         "Vxlf 5718 [/opt/none/bin/qhmctl  set resource use 1] [node1] []",
         ""},
    };
    for (const Case& c : cases) {
        TestNode node;
        for (const std::string& tool : {kMembview, kQhmctl, kRescmd}) {
            vxl_test::addAnsweringTool(node, tool);
        }
        c.answers(node);
        // The last QHMHOME item counts.
        vxl_test::TaskInstance in{c.id, {{"QHMHOME", "/ignored"}, {"QHMHOME", c.home}}};
        if (c.home.empty()) in.data.clear();
        const vxl_test::Fixed r = vxl_test::fixInNode<sTaskClusterSettings>(node, {in});
        EXPECT_EQ(r.lines, std::vector<std::string>{c.outcome}) << c.id;
        EXPECT_EQ(r.fileContent(vxl_test::kToolCallLog).value_or(""), c.calls) << c.outcome;
    }
}

}  // namespace
}  // namespace vxl_fixup
