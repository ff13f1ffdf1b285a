#include <dirent.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "sandbox/NodeTestSupport.h"

using namespace vxl_fixup;

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
    if (S_ISREG(st.st_mode)) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        out << " " << std::hash<std::string>{}(bytes.str());
    }
    out << "\n";
    if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> names;
        if (DIR* d = opendir(path.c_str())) {
            while (struct dirent* de = readdir(d)) {
                std::string n = de->d_name;
                if (n != "." && n != "..") names.push_back(n);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        for (const auto& n : names) out << fingerprint(path + "/" + n);
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
    std::string before = machineState();

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
    std::string passwd = r.fileContent("/etc/passwd").value_or("");
    EXPECT_NE(passwd.find("vxlnodeuser:x:"), std::string::npos);
    EXPECT_NE(r.fileContent("/etc/sysctl.conf").value_or("").find("kernel.shmmax = 1\n"),
              std::string::npos);
    std::vector<std::string> changed = r.changedFiles();
    for (const char* p : {"/etc/passwd", "/etc/group", "/etc/shadow", "/etc/sysctl.conf",
                          "/home/vxlnodeuser", "/root/.ssh/id_vxlnode.pub"}) {
        EXPECT_NE(std::find(changed.begin(), changed.end(), p), changed.end()) << p;
    }
    // ...and the machine none of them.
    EXPECT_EQ(machineState(), before);
    EXPECT_EQ(getpwnam("vxlnodeuser"), nullptr);
    EXPECT_EQ(getgrnam("vxlnodegrp"), nullptr);
}
