// The storage library's driver configuration inside a test node: a real
// configuration file and a fake init script that logs its calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/cluster/sTaskClusterSettings.h"

namespace vxl_fixup {
namespace {

using vxl_test::TaskInstance;

const std::string kConf = "/etc/kelvaneqvr/kelvaneqvr.conf";
const std::string kInit = "/etc/init.d/kelvaneqvr";
const std::string kRestart = "/etc/init.d/kelvaneqvr [restart]";

TaskInstance driverInstance(std::vector<std::pair<std::string, std::string>> items) {
    return {"TASKQVRLIBCHECKS", std::move(items), std::nullopt, std::nullopt};
}

NodeResult fix(const TestNode& node, const TaskInstance& instance) {
    NodeResult r = vxl_test::fixInFreshNode<sTaskClusterSettings>(node, instance);
    EXPECT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.exitCode, 0) << r.stderrText;
    return r;
}

TEST(QVRLibConfigNodeTest, RewritesKnownValuesInPlaceAndRestartsTheDriver) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.addFile(kConf,
                 "# driver settings\n"
                 "KELVANEQVR_ENABLED=true\n"
                 "KELVANEQVR_UID=0\n"
                 "#KELVANEQVR_UID=0\n"
                 "KELVANEQVR_GID=\n"
                 "  KELVANEQVR_SCANBOOT = true  \n"
                 "KELVANEQVR_SCANEXCLUDE=sd*=x\n"
                 "KELVANEQVR_UIDX=7\n",
                 0640, 0, 6);
    vxl_test::addAnsweringTool(node, kInit);
    NodeResult r = fix(node, driverInstance({{"KELVANEQVR_UID", "54321"},
                                             {"KELVANEQVR_GID", "54322"},
                                             {"KELVANEQVR_SCANBOOT", "true"},
                                             {"KELVANEQVR_SCANORDER", "dm"},
                                             {"KELVANEQVR_SCANEXCLUDE", "loop*"},
                                             {"SOMETHING_ELSE", "1"},
                                             {"CONFIGFILEPATH", kConf}}));
    EXPECT_EQ(r.stdoutText, "SUCCESSFUL\n");
    EXPECT_EQ(r.fileContent(kConf).value_or("<missing>"),
              "# driver settings\n"
              "KELVANEQVR_ENABLED=true\n"
              "KELVANEQVR_UID=54321\n"
              "#KELVANEQVR_UID=0\n"
              "KELVANEQVR_GID=54322\n"
              "  KELVANEQVR_SCANBOOT = true  \n"
              "KELVANEQVR_SCANEXCLUDE=loop*\n"
              "KELVANEQVR_UIDX=7\n");
    const auto file = r.file(kConf);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->mode, 0640u) << "the rewrite keeps the file's mode";
    EXPECT_EQ(file->gid, 6u) << "and its group";
    EXPECT_EQ(vxl_test::toolCalls(r), std::vector<std::string>{kRestart});
}

TEST(QVRLibConfigNodeTest, AFileThatIsAlreadyRightIsNotWrittenButTheDriverRestarts) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.addFile(kConf, "KELVANEQVR_SCANBOOT=true\n");
    vxl_test::addAnsweringTool(node, kInit);
    NodeResult r =
        fix(node, driverInstance({{"CONFIGFILEPATH", kConf}, {"KELVANEQVR_SCANBOOT", "true"}}));
    EXPECT_EQ(r.stdoutText, "SUCCESSFUL\n");
    for (const std::string& path : r.changedFiles()) EXPECT_NE(path, kConf);
    EXPECT_EQ(vxl_test::toolCalls(r), std::vector<std::string>{kRestart});
}

TEST(QVRLibConfigNodeTest, BadInputAndFailuresEndInTheirMessages) {
    VXL_REQUIRE_TEST_NODE();
    const std::string original = "KELVANEQVR_UID=0\nKELVANEQVR_ENABLED=true\n";
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> items;
        bool withInitScript;
        int restartCode;
        const char* outcome;
        const char* fileAfter;  // null: as it was
        std::vector<std::string> calls;
    } cases[] = {
        {"only the path", {{"CONFIGFILEPATH", kConf}}, true, 0, "FAILED\nVxlg 9031\n", nullptr, {}},
        {"no path", {{"KELVANEQVR_UID", "1"}}, true, 0, "FAILED\nVxlg 9031\n", nullptr, {}},
        {"a value that would add a line",
         {{"CONFIGFILEPATH", kConf}, {"KELVANEQVR_UID", "54321\nKELVANEQVR_ENABLED=false"}},
         true,
         0,
         "FAILED\nVxlg 9031\n",
         nullptr,
         {}},
        {"a missing file",
         {{"CONFIGFILEPATH", "/etc/kelvaneqvr/none.conf"}, {"KELVANEQVR_UID", "1"}},
         true,
         0,
         "FAILED\nVxlg 9030 [/etc/kelvaneqvr/none.conf] [node1]\n",
         nullptr,
         {}},
        {"a failing restart",
         {{"CONFIGFILEPATH", kConf}, {"KELVANEQVR_UID", "54321"}},
         true,
         1,
         "FAILED\n"
         "Vxlg 9064 [/etc/init.d/kelvaneqvr  restart] [node1] [kelvaneqvr: driver busy]\n"
         "native [(/etc/init.d/kelvaneqvr  restart)] [1] [kelvaneqvr: driver busy]\n",
         "KELVANEQVR_UID=54321\nKELVANEQVR_ENABLED=true\n",
         {kRestart}},
        {"no init script",
         {{"CONFIGFILEPATH", kConf}, {"KELVANEQVR_UID", "54321"}},
         false,
         0,
         "FAILED\n"
         "Vxlg 9020 [/etc/init.d/kelvaneqvr] [node1]\n"
         "Vxlg 9064 [/etc/init.d/kelvaneqvr  restart] [node1] []\n",
         "KELVANEQVR_UID=54321\nKELVANEQVR_ENABLED=true\n",
         {}},
    };
    for (const Case& c : cases) {
        TestNode node;
        node.addFile(kConf, original);
        if (c.withInitScript) {
            vxl_test::addAnsweringTool(node, kInit);
            vxl_test::setAnswer(node, kInit, "", "", "kelvaneqvr: driver busy\n", c.restartCode);
        }
        NodeResult r = fix(node, driverInstance(c.items));
        EXPECT_EQ(r.stdoutText, c.outcome) << c.what;
        EXPECT_EQ(r.fileContent(kConf).value_or("<missing>"), c.fileAfter ? c.fileAfter : original)
            << c.what;
        EXPECT_EQ(vxl_test::toolCalls(r), c.calls) << c.what;
    }
}

}  // namespace
}  // namespace vxl_fixup
