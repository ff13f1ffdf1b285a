// The storage library's driver configuration inside a test node: a real
// configuration file and a fake init script that logs its calls.
#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/cluster/sTaskClusterSettings.h"

namespace vxl_fixup {
namespace {

const std::string kConf = "/etc/kelvaneqvr/kelvaneqvr.conf";
const std::string kInit = "/etc/init.d/kelvaneqvr";
const std::string kRestart = kInit + " [restart]";
const std::string kOriginal =
    "# driver settings\nKELVANEQVR_UID=0\n#KELVANEQVR_UID=0\nKELVANEQVR_GID=\n"
    "  KELVANEQVR_SCANBOOT = true  \nKELVANEQVR_SCANEXCLUDE=sd*=x\nKELVANEQVR_UIDX=7\n";

TEST(QVRLibConfigNodeTest, RewritesValuesThenRestartsTheDriver) {
    VXL_REQUIRE_TEST_NODE();
    const std::vector<std::pair<std::string, std::string>> all = {
        {"KELVANEQVR_UID", "54321"},
        {"KELVANEQVR_GID", "54322"},
        {"KELVANEQVR_SCANBOOT", "true"},
        {"KELVANEQVR_SCANORDER", "dm"},
        {"KELVANEQVR_SCANEXCLUDE", "loop*"},
        {"OTHER", "1"},
        {"CONFIGFILEPATH", kConf}};
    const std::string rewritten =
        "# driver settings\nKELVANEQVR_UID=54321\n#KELVANEQVR_UID=0\nKELVANEQVR_GID=54322\n"
        "  KELVANEQVR_SCANBOOT = true  \nKELVANEQVR_SCANEXCLUDE=loop*\nKELVANEQVR_UIDX=7\n";
    const std::string uidOnly =
        "# driver settings\nKELVANEQVR_UID=54321" + kOriginal.substr(kOriginal.find("\n#K"));
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> items;
        int restartCode;
        std::string outcome, fileAfter;
        std::vector<std::string> calls;
    } cases[] = {
        {"every key kind", all, 0, "SUCCESSFUL", rewritten, {kRestart}},
        {"nothing to change still restarts",
         {{"CONFIGFILEPATH", kConf}, {"KELVANEQVR_SCANBOOT", "true"}},
         0,
         "SUCCESSFUL",
         kOriginal,
         {kRestart}},
        {"only the path", {{"CONFIGFILEPATH", kConf}}, 0, "FAILED Vxlg 9031", kOriginal, {}},
        {"a missing file",
         {{"CONFIGFILEPATH", "/etc/none.conf"}, {"KELVANEQVR_UID", "1"}},
         0,
         "FAILED Vxlg 9030 [/etc/none.conf] [node1]",
         kOriginal,
         {}},
        {"a failing restart keeps the rewrite",
         {{"CONFIGFILEPATH", kConf}, {"KELVANEQVR_UID", "54321"}},
         1,
         "FAILED Vxlg 9064 [" + kInit + "  restart] [node1] [driver busy] native [(" + kInit +
             "  restart)] [1] [driver busy]",
         uidOnly,
         {kRestart}},
    };
    for (const Case& c : cases) {
        TestNode node;
        node.addFile(kConf, kOriginal, 0640, 0, 6);
        node.addFakeTool(kInit, "", "driver busy\n", c.restartCode);
        const vxl_test::Fixed r =
            vxl_test::fixInNode<sTaskClusterSettings>(node, {{"TASKQVRLIBCHECKS", c.items}});
        EXPECT_EQ(r.lines, std::vector<std::string>{c.outcome}) << c.what;
        EXPECT_EQ(r.fileContent(kConf).value_or(""), c.fileAfter) << c.what;
        EXPECT_EQ(r.commandLog(), c.calls) << c.what;
        const auto f = r.file(kConf);
        EXPECT_TRUE(f && f->mode == 0640 && f->gid == 6) << "owner and mode kept: " << c.what;
        for (const std::string& changed : r.changedFiles()) {
            EXPECT_TRUE(changed != kConf || c.fileAfter != kOriginal) << "written: " << c.what;
        }
    }
}

}  // namespace
}  // namespace vxl_fixup
