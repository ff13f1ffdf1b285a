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

const std::string kFile = "/srv/registry/cluster.loc", kDir = "/srv/registry/tdb";
const std::string kRoot644 = "0:0:644", kGrid640 = "54321:54321:640", kAsm750 = "0:54329:750";

struct Outcome {
    std::string text, file, dir;  // describe(); uid:gid:mode of kFile and kDir
};

Outcome fix(const vxl_test::TaskInstance& instance) {
    TestNode node;
    node.addFile(kFile, "ocrconfig_loc=+DATA\n", 0644).addDirectory(kDir, 0755);
    NodeResult r = vxl_test::fixInFreshNode<sTaskClusterSettings>(node, instance, [] {
        return std::system(
            "groupadd -g 54321 qhminst && groupadd -g 54329 qhmadmin && "
            "useradd -M -u 54321 -g qhminst qhmowner");
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
        {pathCheck({kDir, kFile}, "USER:qhmowner(54321),GROUP:qhminst(54321),PERMISSIONS:0640"),
         {"SUCCESSFUL\n", kGrid640, "0:0:755"}},
        {pathCheck({kFile}, "USER:qhmowner,PERMISSIONS:600"), {"SUCCESSFUL\n", "0:0:600", "0:0:755"}},
        {pathCheck({kFile}, ""), {"UNKNOWN\n", kRoot644, "0:0:755"}},
        {pathCheck({}, "USER:qhmowner,GROUP:qhminst"), {"UNKNOWN\n", kRoot644, "0:0:755"}},
        {pathCheck({kFile}, "USER:nobody1,GROUP:qhminst,PERMISSIONS:600"),
         {"FAILED\nnative [chown nobody1:qhminst " + kFile +
              "] [1] [chown: invalid user: 'nobody1:qhminst']\n",
          "0:0:600", "0:0:755"}},
        {pathCheck({kFile}, "USER:qhmowner;reboot,GROUP:qhminst"),
         {"FAILED\nnative [chown 'qhmowner;reboot:qhminst' " + kFile +
              "] [1] [chown: invalid user: 'qhmowner;reboot:qhminst']\n",
          kRoot644, "0:0:755"}},
        {pathCheck({"/srv/none"}, "USER:qhmowner,GROUP:qhminst,PERMISSIONS:600"),
         {"FAILED\nVxlg 9021 [/srv/none] [node1]\nVxlg 9021 [/srv/none] [node1]\n", kRoot644,
          "0:0:755"}},
        {pathCheck({kFile}, "USER:(54321),GROUP:qhminst"),
         {"FAILED\nVxlg 4500 [filePath]\n", kRoot644, "0:0:755"}},
    };
    for (const char* bad : {"PERMISSIONS:u+s", "PERMISSIONS:--reference=/etc/shadow",
                            "PERMISSIONS:07777", "USER:--from=root,GROUP:qhminst",
                            "USER:qhmowner,GROUP:qhm inst", "USER:qhmowner:qhmadmin,GROUP:qhminst"}) {
        EXPECT_EQ(fix(pathCheck({kFile}, bad)).text, "FAILED\nVxlg 9031\n") << bad;
    }
    EXPECT_EQ(fix(pathCheck({"srv/registry/cluster.loc"}, "PERMISSIONS:600")).text,
              "FAILED\nVxlg 9031\n");
    for (const Case& c : cases) {
        const Outcome o = fix(c.in);
        EXPECT_EQ(o.text, c.expected.text) << c.in.expected.value_or("<none>");
        EXPECT_EQ(o.file + " " + o.dir, c.expected.file + " " + c.expected.dir) << o.text;
    }
}

TEST(PathOwnershipNodeTest, RegistryPathsAreEachFixedAndEveryOutcomeIsKept) {
    VXL_REQUIRE_TEST_NODE();
    const std::string toOwner = "|USER:qhmowner(54321),GROUP:qhminst(54321),PERMISSIONS:640";
    const std::string toAsm = "|USER:root(0),GROUP:qhmadmin(54329),PERMISSIONS:750";
    const std::string seen = "|USER:root(0),GROUP:root(0),PERMISSIONS:644";
    struct Case {
        std::string expected, actual;
        Outcome outcome;
    } cases[] = {
        {kFile + toOwner + ";" + kDir + toAsm,
         kFile + seen + ";" + kDir + seen,
         {"SUCCESSFUL\n", kGrid640, kAsm750}},
        {"/srv/none" + toOwner + ";" + kDir + toAsm,
         "/srv/none" + seen + ";" + kDir + seen,
         {"FAILED\nVxlg 9021 [/srv/none] [node1]\nVxlg 9021 [/srv/none] [node1]\n", kRoot644,
          kAsm750}},
        {kFile + ";" + kDir + toAsm, "x;" + kDir, {"FAILED\nVxlg 9031\n", kRoot644, kAsm750}},
        {kFile + toOwner + ";" + kDir + toAsm,
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
