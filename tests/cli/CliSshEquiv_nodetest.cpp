// "vxlfixup ssh-equiv" as a person uses it on a node: the readable outcome,
// the error text on standard error and the function's return value as the
// exit code.
#include <gtest/gtest.h>

#include <string>

#include "sandbox/NodeTestSupport.h"

namespace vxl_fixup {
namespace {

TEST(CliSshEquivNodeTest, GenerateUpdateRefreshAndABadNodeName) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.setEnv("HOME", "/home/tester").addDirectory("/home/tester").addDirectory("/var/tmp/w");
    const std::string tool = std::string(VXL_CLI_PATH) + " ssh-equiv ";
    const std::string options = " --node Node1.example.com --work-dir /var/tmp/w";
    const NodeResult r =
        node.run(tool + "generate" + options + "; echo rc=$?; " +
                 "cp /var/tmp/w/node1.id_rsa.pub /var/tmp/in.pub; " + tool +
                 "update --input /var/tmp/in.pub" + options + "; echo rc=$?; " + tool + "refresh" +
                 options + " >/var/tmp/refresh.out; echo rc=$?; " +
                 "sed -n 's/.*SSH_AGENT_PID=//p' /var/tmp/refresh.out | xargs kill; " + tool +
                 "reuse --node 'bad/name' --work-dir /var/tmp/w; echo rc=$?");
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText,
              "GENERATE succeeded\n"
              "  published public key:           /var/tmp/w//node1.id_rsa.pub\n"
              "  public key in the SSH directory: /home/tester/.ssh/node1.id_rsa.pub\n"
              "rc=0\n"
              "UPDATE succeeded\n"
              "rc=0\n"
              "rc=0\n"
              "REUSE failed\n"
              "  Vxlg-9031()\n"
              "rc=1\n");
    EXPECT_EQ(r.stderrText, "vxlfixup: the node name (bad/name) is not a valid host name.\n");
    const std::string refresh = r.fileContent("/var/tmp/refresh.out").value_or("");
    EXPECT_EQ(refresh.rfind("REFRESH succeeded\n  agent: SSH_AUTH_SOCK=/tmp/", 0), 0u) << refresh;
    EXPECT_EQ(r.fileContent("/home/tester/.ssh/authorized_keys"),
              r.fileContent("/home/tester/.ssh/id_rsa.pub"));
}

}  // namespace
}  // namespace vxl_fixup
