// Path ownership and mode, alone and for the node-local registry's paths:
// real chown and chmod on real files of a test node, with real users and
// groups created in it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/cluster/sTaskClusterSettings.h"

namespace vxl_fixup {
namespace {

using vxl_test::TaskInstance;

const std::string kFile = "/u01/registry/ocr.loc";
const std::string kDir = "/u01/registry/olr";
constexpr unsigned kGrid = 54321, kOinstall = 54321, kAsmadmin = 54329;

int addAccounts() {
    return std::system(
        "groupadd -g 54321 oinstall && groupadd -g 54329 asmadmin && "
        "useradd -M -u 54321 -g oinstall grid");
}

// Fixes the instance in a node holding the registry file and directory,
// both root's, and the accounts.
NodeResult fix(const TaskInstance& instance) {
    TestNode node;
    node.addFile(kFile, "ocrconfig_loc=+DATA\n", 0644).addDirectory(kDir, 0755);
    NodeResult r = vxl_test::fixInFreshNode<sTaskClusterSettings>(node, instance, addAccounts);
    EXPECT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.exitCode, 0) << r.stderrText;
    return r;
}

// uid:gid:mode of a path after the run, in octal for the mode.
std::string stateOf(const NodeResult& r, const std::string& path) {
    const auto f = r.file(path);
    if (!f) return "<missing>";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(f->mode));
    return std::to_string(f->uid) + ":" + std::to_string(f->gid) + ":" + mode;
}

TaskInstance pathInstance(std::vector<std::string> paths, const std::string& expected) {
    TaskInstance instance{"TASKPATHCHECK", {}, expected, "USER:root(0),GROUP:root(0)"};
    for (const std::string& p : paths) instance.data.emplace_back("PATH", p);
    return instance;
}

TEST(PathOwnershipNodeTest, SetsOwnerGroupAndModeOfTheLastPath) {
    VXL_REQUIRE_TEST_NODE();
    NodeResult r = fix(pathInstance({kDir, kFile},
                                    "USER:grid(54321),GROUP:asmadmin(54329),"
                                    "PERMISSIONS:0640"));
    EXPECT_EQ(r.stdoutText, "SUCCESSFUL\n");
    EXPECT_EQ(stateOf(r, kFile), std::to_string(kGrid) + ":" + std::to_string(kAsmadmin) + ":640");
    EXPECT_EQ(stateOf(r, kDir), "0:0:755") << "only the last PATH item counts";
    const std::string trace = vxl_test::traceText(r);
    for (const char* line : {"Expected user id 54321", "Expected user is grid",
                             "Expected group is asmadmin", "Actual User is root",
                             "(Successfully set the expected ownership grid:asmadmin for the path "
                             "/u01/registry/ocr.loc)",
                             "(Successfully set the expected permissions 0640 for the path "
                             "/u01/registry/ocr.loc)"}) {
        EXPECT_NE(trace.find(line), std::string::npos) << line;
    }
}

TEST(PathOwnershipNodeTest, PartialAndFailingExpectations) {
    VXL_REQUIRE_TEST_NODE();
    const std::string chownFailure = "native [chown nobodyhere:oinstall " + kFile +
                                     "] [1] [chown: invalid user: 'nobodyhere:oinstall']\n";
    struct Case {
        const char* what;
        TaskInstance instance;
        std::string outcome;
        std::string fileAfter;
    } cases[] = {
        {"no group: only the mode", pathInstance({kFile}, "USER:grid,PERMISSIONS:600"),
         "SUCCESSFUL\n", "0:0:600"},
        {"no expected value", pathInstance({kFile}, ""), "UNKNOWN\n", "0:0:644"},
        {"no path", pathInstance({}, "USER:grid,GROUP:oinstall"), "UNKNOWN\n", "0:0:644"},
        {"unknown owner: the mode is still set and the task stays failed",
         pathInstance({kFile}, "USER:nobodyhere,GROUP:oinstall,PERMISSIONS:600"),
         "FAILED\n" + chownFailure, "0:0:600"},
        {"shell text in a name reaches chown as one word",
         pathInstance({kFile}, "USER:grid;reboot,GROUP:oinstall"),
         "FAILED\nnative [chown 'grid;reboot:oinstall' " + kFile +
             "] [1] [chown: invalid user: 'grid;reboot:oinstall']\n",
         "0:0:644"},
        {"missing path", pathInstance({"/u01/none"}, "USER:grid,GROUP:oinstall,PERMISSIONS:600"),
         "FAILED\nVxlg 9021 [/u01/none] [node1]\nVxlg 9021 [/u01/none] [node1]\n", "0:0:644"},
        {"empty owner", pathInstance({kFile}, "USER:(54321),GROUP:oinstall"),
         "FAILED\nVxlg 4500 [filePath]\n", "0:0:644"},
    };
    cases[1].instance.expected.reset();
    for (const Case& c : cases) {
        NodeResult r = fix(c.instance);
        EXPECT_EQ(r.stdoutText, c.outcome) << c.what;
        EXPECT_EQ(stateOf(r, kFile), c.fileAfter) << c.what;
    }
}

TEST(PathOwnershipNodeTest, ValuesThatCouldSteerChownOrChmodRunNothing) {
    VXL_REQUIRE_TEST_NODE();
    for (const auto& bad : std::vector<std::pair<std::string, std::string>>{
             {"u01/registry/ocr.loc", "PERMISSIONS:600"},
             {kFile, "PERMISSIONS:u+s"},
             {kFile, "PERMISSIONS:--reference=/etc/shadow"},
             {kFile, "PERMISSIONS:75a"},
             {kFile, "PERMISSIONS:07777"},
             {kFile, "USER:--from=root,GROUP:oinstall"},
             {kFile, "USER:grid,GROUP:oin stall"},
             {kFile, "USER:grid:asmadmin,GROUP:oinstall"},
         }) {
        NodeResult r = fix(pathInstance({bad.first}, bad.second));
        EXPECT_EQ(r.stdoutText, "FAILED\nVxlg 9031\n") << bad.first << " " << bad.second;
        EXPECT_EQ(stateOf(r, kFile), "0:0:644") << bad.second;
        EXPECT_EQ(vxl_test::traceText(r).find("Executing command"), std::string::npos)
            << bad.second;
    }
}

TEST(PathOwnershipNodeTest, RegistryPathsAreEachFixedAndEveryOutcomeIsKept) {
    VXL_REQUIRE_TEST_NODE();
    const std::string fileWanted = "USER:grid(54321),GROUP:oinstall(54321),PERMISSIONS:640";
    const std::string dirWanted = "USER:root(0),GROUP:asmadmin(54329),PERMISSIONS:750";
    const std::string actualFile = "USER:root(0),GROUP:root(0),PERMISSIONS:644";
    const std::string grid = std::to_string(kGrid) + ":" + std::to_string(kOinstall) + ":640";
    const std::string dirFixed = "0:" + std::to_string(kAsmadmin) + ":750";
    struct Case {
        const char* what;
        std::string expected, actual, outcome, fileAfter, dirAfter;
    } cases[] = {
        {"two paths", kFile + "|" + fileWanted + ";" + kDir + "|" + dirWanted,
         kFile + "|" + actualFile + ";" + kDir + "|" + actualFile, "SUCCESSFUL\n", grid, dirFixed},
        {"a failing first path does not hide behind a good second one",
         "/u01/none|" + fileWanted + ";" + kDir + "|" + dirWanted,
         "/u01/none|" + actualFile + ";" + kDir + "|" + actualFile,
         "FAILED\nVxlg 9021 [/u01/none] [node1]\nVxlg 9021 [/u01/none] [node1]\n", "0:0:644",
         dirFixed},
        {"an entry without |", kFile + ";" + kDir + "|" + dirWanted, "x;" + kDir + "|",
         "FAILED\nVxlg 9031\n", "0:0:644", dirFixed},
        {"fewer actual than expected entries",
         kFile + "|" + fileWanted + ";" + kDir + "|" + dirWanted, kFile + "|" + actualFile,
         "FAILED\nVxlg 9031\n", grid, "0:0:755"},
    };
    for (const Case& c : cases) {
        NodeResult r = fix({"TASKTDBINTEGRITY", {}, c.expected, c.actual});
        EXPECT_EQ(r.stdoutText, c.outcome) << c.what;
        EXPECT_EQ(stateOf(r, kFile), c.fileAfter) << c.what;
        EXPECT_EQ(stateOf(r, kDir), c.dirAfter) << c.what;
    }
    NodeResult r = fix({"TASKTDBINTEGRITY", {}, std::nullopt, std::nullopt});
    EXPECT_EQ(r.stdoutText, "UNKNOWN\n") << "no expected value";
}

}  // namespace
}  // namespace vxl_fixup
