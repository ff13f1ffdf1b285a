#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "sandbox/NodeTestSupport.h"
#include "support/TempDir.h"

using namespace vxl_fixup;
using vxl_test::TempDir;

namespace {

// What the machine looks like at a path: type, mode, owner, size, inode,
// change time and a hash of the bytes (never the bytes: some are secrets).
std::string fingerprint(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return path + " absent\n";
    std::ostringstream out;
    out << path << " " << std::oct << st.st_mode << std::dec << " " << st.st_uid << ":" << st.st_gid
        << " " << st.st_size << " " << st.st_ino << " " << st.st_ctim.tv_sec << "."
        << st.st_ctim.tv_nsec;
    if (S_ISREG(st.st_mode)) out << " " << std::hash<std::string>{}(TempDir::read(path));
    out << "\n";
    if (S_ISDIR(st.st_mode)) {
        for (const std::string& name : TempDir::list(path)) out << fingerprint(path + "/" + name);
    }
    return out.str();
}

std::string machineState() {
    std::string s;
    for (const char* p : {"/etc/passwd", "/etc/group", "/etc/shadow", "/etc/gshadow",
                          "/etc/sysctl.conf", "/root/.ssh", "/home"}) {
        s += fingerprint(p);
    }
    return s;
}

}  // namespace

TEST(HostIsolationTest, UsersKeysAndSettingsMadeInANodeStayThere) {
    VXL_REQUIRE_TEST_NODE();
    ASSERT_EQ(getpwnam("vxlnodeuser"), nullptr) << "left over from elsewhere";
    const std::string before = machineState();

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
    EXPECT_EQ(machineState(), before);
    EXPECT_EQ(getpwnam("vxlnodeuser"), nullptr);
    EXPECT_EQ(getgrnam("vxlnodegrp"), nullptr);
}
