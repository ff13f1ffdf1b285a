// The JSON forms and the missing work directory where they need a node:
// ssh-equiv changes ~/.ssh, plan makes a copy of the machine.
#include <gtest/gtest.h>

#include <string>

#include "sandbox/NodeTestSupport.h"
#include "support/Shell.h"
#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

// The same operations as the text form, each one JSON document, the exit
// status unchanged.
TEST(CliJsonNodeTest, SshEquivAsJson) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.setEnv("HOME", "/home/tester").addDirectory("/home/tester").addDirectory("/var/tmp/w");
    const std::string tool = std::string(VXL_CLI_PATH) + " ssh-equiv ";
    const std::string options = " --node Node1.example.com --work-dir /var/tmp/w --format json";
    struct Row {
        std::string command, output;
    };
    const Row rows[] = {
        {"generate" + options,
         "{\n  \"operation\": \"GENERATE\",\n  \"node\": \"Node1.example.com\",\n"
         "  \"workDir\": \"/var/tmp/w/\",\n  \"exitCode\": 0,\n  \"succeeded\": true,\n"
         "  \"publishedKey\": \"/var/tmp/w//node1.id_rsa.pub\",\n"
         "  \"keyInSshDirectory\": \"/home/tester/.ssh/node1.id_rsa.pub\",\n"
         "  \"messages\": [],\n  \"agent\": {\"SSH_AUTH_SOCK\": \"\", \"SSH_AGENT_PID\": \"\"},\n"
         "  \"resultText\": \"<GENERATE><PUB_KEY_PUB_LOC>/var/tmp/w//node1.id_rsa.pub"
         "</PUB_KEY_PUB_LOC><PUB_KEY_SSH_DIR_LOC>/home/tester/.ssh/node1.id_rsa.pub"
         "</PUB_KEY_SSH_DIR_LOC></GENERATE>\",\n  \"error\": \"\"\n}\nrc=0\n"},
        {"reuse --node bad/name --work-dir /var/tmp/w --format json",
         "{\n  \"operation\": \"REUSE\",\n  \"node\": \"bad/name\",\n"
         "  \"workDir\": \"/var/tmp/w/\",\n  \"exitCode\": 1,\n  \"succeeded\": false,\n"
         "  \"publishedKey\": \"\",\n  \"keyInSshDirectory\": \"\",\n"
         "  \"messages\": [\"Vxlg-9031()\"],\n"
         "  \"agent\": {\"SSH_AUTH_SOCK\": \"\", \"SSH_AGENT_PID\": \"\"},\n"
         "  \"resultText\": \"<REUSE><NLS_MSG><DISP_FACILITY>true</DISP_FACILITY><MSG_DATA>"
         "</MSG_DATA><FACILITY>Vxlg</FACILITY><ID>9031</ID></NLS_MSG></REUSE>\",\n"
         "  \"error\": \"the node name (bad/name) is not a valid host name.\"\n}\nrc=1\n"},
    };
    std::string script, expected;
    for (const Row& row : rows) {
        script += tool + row.command + " 2>/dev/null; echo rc=$?; ";
        expected += row.output;
    }
    const NodeResult r = node.run(script);
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText, expected);
}

// plan takes a missing work directory as the run would make it, in its copy
// only; a missing parent is refused.
TEST(CliJsonNodeTest, PlanMakesAMissingWorkDirectoryInItsCopyOnly) {
    VXL_REQUIRE_TEST_NODE();
    vxl_test::TempDir dir;
    vxl_test::TempDir::write(
        dir.file("empty.xml"),
        "<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n  </TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n");
    struct Row {
        std::string workDir;
        int exitCode;
        std::string output;  // start of standard output and error
    };
    const Row rows[] = {
        {dir.file("new"), 0, "{\n  \"document\": \"" + dir.file("empty.xml") + "\""},
        {dir.file("new/deeper"), 2,
         "vxlfixup: work directory " + dir.file("new/deeper") +
             "/ does not exist, nor does its parent"},
    };
    for (const Row& row : rows) {
        const vxl_test::ShellRun r =
            vxl_test::runShell(std::string(VXL_CLI_PATH) + " plan " + dir.file("empty.xml") +
                               " --node n1 --format json --work-dir " + row.workDir);
        EXPECT_EQ(r.exitCode, row.exitCode) << row.workDir << "\n" << r.output;
        EXPECT_EQ(r.output.substr(0, row.output.size()), row.output) << row.workDir;
        EXPECT_FALSE(vxl_test::TempDir::exists(dir.file("new"))) << row.workDir;
    }
}

}  // namespace
}  // namespace vxl_fixup
