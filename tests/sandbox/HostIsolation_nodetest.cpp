#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>

#include <algorithm>

#include "sandbox/NodeTestSupport.h"
#include "support/TempDir.h"

using namespace vxl_fixup;
using vxl_test::TempDir;

TEST(HostIsolationTest, UsersKeysAndSettingsMadeInANodeStayThere) {
    VXL_REQUIRE_TEST_NODE();
    ASSERT_EQ(getpwnam("vxlnodeuser"), nullptr) << "left over from elsewhere";
    const char* const watched[] = {"/etc/passwd",      "/etc/group", "/etc/shadow", "/etc/gshadow",
                                   "/etc/sysctl.conf", "/root/.ssh", "/home"};
    std::string before;
    for (const char* p : watched) before += TempDir::fingerprint(p);

    TestNode node;
    NodeResult r = node.run(
        "set -e\n"
        "groupadd vxlnodegrp\n"
        "useradd -m -g vxlnodegrp vxlnodeuser\n"
        "usermod -c 'node user' vxlnodeuser\n"
        "id vxlnodeuser >/dev/null\n"
        "echo 'kernel.shmmax = 1' >> /etc/sysctl.conf\n"
        "mkdir -p /root/.ssh && chmod 700 /root/.ssh\n"
        "ssh-keygen -q -t ed25519 -N '' -C vxl -f /root/.ssh/id_vxlnode\n"
        "eval \"$(ssh-agent -s)\" >/dev/null && ssh-add -q /root/.ssh/id_vxlnode\n"
        "ps -e -o comm= | grep -q ssh-agent\n");
    ASSERT_TRUE(r.ran()) << r.setupError;
    ASSERT_EQ(r.exitCode, 0) << r.stderrText;

    // The node saw its own changes...
    const std::vector<std::string> changed = r.changedFiles();
    for (const char* p : {"/etc/passwd", "/etc/group", "/etc/shadow", "/etc/sysctl.conf",
                          "/home/vxlnodeuser", "/root/.ssh/id_vxlnode.pub"}) {
        EXPECT_NE(std::find(changed.begin(), changed.end(), p), changed.end()) << p;
    }
    // ...and the machine none of them.
    std::string after;
    for (const char* p : watched) after += TempDir::fingerprint(p);
    EXPECT_EQ(after, before);
    EXPECT_EQ(getpwnam("vxlnodeuser"), nullptr);
    EXPECT_EQ(getgrnam("vxlnodegrp"), nullptr);
}
