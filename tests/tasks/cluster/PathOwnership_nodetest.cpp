// Path ownership and mode, alone and for the node-local registry's paths:
// real chown and chmod on real files of a test node, with real users and
// groups created in it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/cluster/sTaskClusterSettings.h"

namespace vxl_fixup {
namespace {

const std::string kFile = "/u01/registry/ocr.loc", kDir = "/u01/registry/olr";
const std::string kRoot644 = "0:0:644", kGrid640 = "54321:54321:640", kAsm750 = "0:54329:750";

struct Outcome {
    std::string text, file, dir;  // describe(); uid:gid:mode of kFile and kDir
};

Outcome fix(const vxl_test::TaskInstance& instance) {
    TestNode node;
    node.addFile(kFile, "ocrconfig_loc=+DATA\n", 0644).addDirectory(kDir, 0755);
    NodeResult r = vxl_test::fixInFreshNode<sTaskClusterSettings>(node, instance, [] {
        return std::system(
            "groupadd -g 54321 oinstall && groupadd -g 54329 asmadmin && "
            "useradd -M -u 54321 -g oinstall grid");
    });
    EXPECT_EQ(r.exitCode, 0) << r.setupError << r.stderrText;
    auto state = [&r](const std::string& path) {
        const auto f = r.file(path);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%o", f ? static_cast<unsigned>(f->mode) : 0u);
        return f ? std::to_string(f->uid) + ":" + std::to_string(f->gid) + ":" + mode : "";
    };
    return {r.stdoutText, state(kFile), state(kDir)};
}

vxl_test::TaskInstance pathCheck(std::vector<std::string> paths, const char* expected) {
    vxl_test::TaskInstance in{"TASKPATHCHECK", {}, std::string(expected), "USER:root(0)"};
    for (const std::string& p : paths) in.data.emplace_back("PATH", p);
    if (*expected == '\0') in.expected.reset();
    return in;
}

TEST(PathOwnershipNodeTest, SetsWhatIsExpectedAndRefusesWhatCouldSteerChownOrChmod) {
    VXL_REQUIRE_TEST_NODE();
    struct Case {
        vxl_test::TaskInstance in;
        Outcome expected;
    } cases[] = {
        {pathCheck({kDir, kFile}, "USER:grid(54321),GROUP:oinstall(54321),PERMISSIONS:0640"),
         {"SUCCESSFUL\n", kGrid640, "0:0:755"}},
        {pathCheck({kFile}, "USER:grid,PERMISSIONS:600"), {"SUCCESSFUL\n", "0:0:600", "0:0:755"}},
        {pathCheck({kFile}, ""), {"UNKNOWN\n", kRoot644, "0:0:755"}},
        {pathCheck({}, "USER:grid,GROUP:oinstall"), {"UNKNOWN\n", kRoot644, "0:0:755"}},
        {pathCheck({kFile}, "USER:nobody1,GROUP:oinstall,PERMISSIONS:600"),
         {"FAILED\nnative [chown nobody1:oinstall " + kFile +
              "] [1] [chown: invalid user: 'nobody1:oinstall']\n",
          "0:0:600", "0:0:755"}},
        {pathCheck({kFile}, "USER:grid;reboot,GROUP:oinstall"),
         {"FAILED\nnative [chown 'grid;reboot:oinstall' " + kFile +
              "] [1] [chown: invalid user: 'grid;reboot:oinstall']\n",
          kRoot644, "0:0:755"}},
        {pathCheck({"/u01/none"}, "USER:grid,GROUP:oinstall,PERMISSIONS:600"),
         {"FAILED\nVxlg 9021 [/u01/none] [node1]\nVxlg 9021 [/u01/none] [node1]\n", kRoot644,
          "0:0:755"}},
        {pathCheck({kFile}, "USER:(54321),GROUP:oinstall"),
         {"FAILED\nVxlg 4500 [filePath]\n", kRoot644, "0:0:755"}},
    };
    for (const char* bad : {"PERMISSIONS:u+s", "PERMISSIONS:--reference=/etc/shadow",
                            "PERMISSIONS:07777", "USER:--from=root,GROUP:oinstall",
                            "USER:grid,GROUP:oin stall", "USER:grid:asmadmin,GROUP:oinstall"}) {
        EXPECT_EQ(fix(pathCheck({kFile}, bad)).text, "FAILED\nVxlg 9031\n") << bad;
    }
    EXPECT_EQ(fix(pathCheck({"u01/registry/ocr.loc"}, "PERMISSIONS:600")).text,
              "FAILED\nVxlg 9031\n");
    for (const Case& c : cases) {
        const Outcome o = fix(c.in);
        EXPECT_EQ(o.text, c.expected.text) << c.in.expected.value_or("<none>");
        EXPECT_EQ(o.file + " " + o.dir, c.expected.file + " " + c.expected.dir) << o.text;
    }
}

TEST(PathOwnershipNodeTest, RegistryPathsAreEachFixedAndEveryOutcomeIsKept) {
    VXL_REQUIRE_TEST_NODE();
    const std::string toGrid = "|USER:grid(54321),GROUP:oinstall(54321),PERMISSIONS:640";
    const std::string toAsm = "|USER:root(0),GROUP:asmadmin(54329),PERMISSIONS:750";
    const std::string seen = "|USER:root(0),GROUP:root(0),PERMISSIONS:644";
    struct Case {
        std::string expected, actual;
        Outcome outcome;
    } cases[] = {
        {kFile + toGrid + ";" + kDir + toAsm,
         kFile + seen + ";" + kDir + seen,
         {"SUCCESSFUL\n", kGrid640, kAsm750}},
        {"/u01/none" + toGrid + ";" + kDir + toAsm,
         "/u01/none" + seen + ";" + kDir + seen,
         {"FAILED\nVxlg 9021 [/u01/none] [node1]\nVxlg 9021 [/u01/none] [node1]\n", kRoot644,
          kAsm750}},
        {kFile + ";" + kDir + toAsm, "x;" + kDir, {"FAILED\nVxlg 9031\n", kRoot644, kAsm750}},
        {kFile + toGrid + ";" + kDir + toAsm,
         kFile + seen,
         {"FAILED\nVxlg 9031\n", kGrid640, "0:0:755"}},
    };
    for (const Case& c : cases) {
        const Outcome o = fix({"TASKTDBINTEGRITY", {}, c.expected, c.actual});
        EXPECT_EQ(o.text + o.file + " " + o.dir,
                  c.outcome.text + c.outcome.file + " " + c.outcome.dir)
            << c.expected;
    }
    EXPECT_EQ(fix({"TASKTDBINTEGRITY", {}, {}, {}}).text, "UNKNOWN\n");
}

}  // namespace
}  // namespace vxl_fixup
