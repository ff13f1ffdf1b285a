// Shell limits and the locked-memory limit on real limits files, the real
// sed over a real sshd_config, and real fix-up scripts, inside a test node.
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/system/sTaskSystemSettings.h"

namespace vxl_fixup {
namespace {

using vxl_test::TaskInstance;
using Lines = std::vector<std::string>;

const std::string kLimitsConf =
    "# /etc/security/limits.conf\n"
    "#<domain>      <type>  <item>         <value>\n"
    "#appuser         soft    nproc           20\n"
    "appuser          soft    nofile          1024\n"
    "appuser          hard    nproc           unlimited\n"
    "appuser          hard    stack           unlimited\n"
    "appuser1         soft    nproc           1\n"
    "# End of file\n";

TaskInstance limit(const std::string& name, const std::string& value) {
    return {"TASKSHELLLIMITS", {{"USER", "appuser"}, {name, value}}};
}

TaskInstance memlock(const std::string& script) {
    return {"MAX_LOCKED_MEM", {{"USER", "appuser"}}, "3145728", {}, "/var/tmp/scripts/" + script};
}

class ShellLimitNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        VXL_REQUIRE_TEST_NODE();
        node.addFile("/etc/security/limits.conf", kLimitsConf)
            .addFile("/etc/security/limits.d/90-nproc.conf", "appuser soft nproc 4096\n")
            .addFile("/etc/security/limits.d/80-other.conf", "dbadmin soft nproc 1024\n")
            .addFile("/etc/security/limits.d/x.cfg", "appuser soft nproc 1\n")
            .addFile("/etc/ssh/sshd_config", "#UsePAM no\nUsePAM yes\nX11Forwarding yes\n");
    }
    void script(const std::string& name, const std::string& body, mode_t mode = 0755) {
        vxl_test::addScript(node, "/var/tmp/scripts/" + name, body, mode);
    }
    vxl_test::Fixed fix(const std::vector<TaskInstance>& instances) {
        return vxl_test::fixInNode<sTaskSystemSettings>(node, instances);
    }
    static Lines etcChanges(const NodeResult& r) {
        Lines etc;
        for (const std::string& path : r.changedFiles()) {
            if (path.rfind("/etc/", 0) == 0) etc.push_back(path);
        }
        return etc;
    }
    TestNode node;
};

TEST_F(ShellLimitNodeTest, EditsLimitsConfAndTheLimitsDFilesThatDefineTheLimit) {
    script("memlock-file.sh", "echo /etc/security/limits.d/80-other.conf");
    const TaskInstance lastUserWins{
        "TASKSHELLLIMITS",
        {{"USER", "nobody"}, {"USER", "appuser"}, {"HARD_FILES", "1"}, {"SOFT_FILES", "65536"}}};
    const auto o = fix({limit("SOFT_PROCESS", "16384"), limit("HARD_PROCESS", "16384"),
                        limit("HARD_STACK", "32768"), lastUserWins, memlock("memlock-file.sh")});
    EXPECT_EQ(o.lines, Lines(5, "SUCCESSFUL"));
    EXPECT_EQ(o.fileContent("/etc/security/limits.conf").value_or(""),
              "# /etc/security/limits.conf\n"
              "#<domain>      <type>  <item>         <value>\n"
              "#appuser         soft    nproc           20\n"
              "appuser          soft    nofile          65536\n"
              "appuser          hard    nproc           unlimited\n"
              "appuser          hard    stack           32768\n"
              "appuser1         soft    nproc           1\n"
              "# End of file\n"
              "#Kelvane recommended value for nproc is set to 16384 for user appuser\n"
              "appuser  soft  nproc  16384\n");
    EXPECT_EQ(o.fileContent("/etc/security/limits.d/90-nproc.conf").value_or(""),
              "appuser soft nproc 16384\n");
    EXPECT_EQ(o.fileContent("/etc/security/limits.d/80-other.conf").value_or(""),
              "dbadmin soft nproc 1024\n"
              "#Kelvane recommended value for memlock is set to 3145728 for user appuser\n"
              "appuser  hard  memlock  3145728\n"
              "#Kelvane recommended value for memlock is set to 3145728 for user appuser\n"
              "appuser  soft  memlock  3145728\n");
    EXPECT_EQ(etcChanges(o),
              (Lines{"/etc/security/limits.conf", "/etc/security/limits.d/80-other.conf",
                     "/etc/security/limits.d/90-nproc.conf"}))
        << "x.cfg is no .conf file";
}

TEST_F(ShellLimitNodeTest, TheSshDaemonMustUsePam) {
    const std::string failed = "FAILED Vxlh 1002 [/etc/ssh/sshd_config] [node1] output [";
    const struct {
        const char* sshdConfig;
        std::string outcome;
    } cases[] = {
        {"UsePAM no\n", failed + "UsePAM no]"},
        {"UsePAM  NO # PAM is off\n", failed + "UsePAM  NO ]"},
        {"UsePAM no\nUsePAM yes\n", failed + "UsePAM no\\nUsePAM yes]"},  // the first line counts
        {"UsePAM yes\nUsePAM no\n", "SUCCESSFUL"},
        {"#UsePAM no\n", "SUCCESSFUL"},
        {"Port 22\n", "SUCCESSFUL"},
    };
    for (const auto& c : cases) {
        node.addFile("/etc/ssh/sshd_config", c.sshdConfig);
        const auto o = fix({limit("SOFT_FILES", "65536")});
        EXPECT_EQ(o.lines, Lines{c.outcome}) << c.sshdConfig;
        EXPECT_EQ(etcChanges(o).size(), c.outcome == "SUCCESSFUL" ? 1u : 0u) << c.sshdConfig;
    }
    node.hidePath("/etc/ssh/sshd_config");
    const auto o = fix({limit("SOFT_FILES", "65536")});
    ASSERT_EQ(o.lines.size(), 1u);
    EXPECT_EQ(o.lines[0].rfind("FAILED Vxlf 5718 [/bin/sed -n -e 's/\\([^#]*\\)#\\(.*\\)/\\1/' "
                               "-e '/UsePAM\\([ \\t]*\\) /p' /etc/ssh/sshd_config] [node1] [",
                               0),
              0u)
        << o.lines[0];
    EXPECT_NE(o.lines[0].find("can't read /etc/ssh/sshd_config: No such file or directory"),
              std::string::npos)
        << "sed's own message: " << o.lines[0];
    EXPECT_TRUE(etcChanges(o).empty());
}

TEST_F(ShellLimitNodeTest, BadInstancesAndScriptsChangeNothing) {
    script("not-executable.sh", "echo /etc/security/limits.conf", 0644);
    script("fails.sh", "echo 'cannot inspect the node' >&2; exit 3");
    script("silent.sh", "true");
    script("relative.sh", "echo limits.conf");
    script("missing-file.sh", "echo /etc/security/none.conf");
    auto o = fix({{"TASKSHELLLIMITS", {{"SOFT_FILES", "65536"}}},
                  {"TASKSHELLLIMITS", {{"USER", "appuser"}}},
                  {"MAX_LOCKED_MEM", {{"USER", "appuser"}}, "3145728"},
                  memlock("missing.sh"),
                  memlock("not-executable.sh"),
                  memlock("fails.sh"),
                  memlock("silent.sh"),
                  memlock("relative.sh"),
                  memlock("missing-file.sh")});
    ASSERT_EQ(o.lines.size(), 9u) << o.stdoutText;
    const std::string refused = "FAILED Vxlg 9031";
    EXPECT_EQ(Lines(o.lines.begin(), o.lines.begin() + 3),
              (Lines{refused + " output [UsePAM yes]", refused + " output [UsePAM yes]", refused}));
    EXPECT_EQ(o.lines[6], refused);
    EXPECT_EQ(o.lines[7], refused + " output [limits.conf]");
    EXPECT_EQ(o.lines[3], "FAILED Vxlg 9020 [/var/tmp/scripts/missing.sh] [node1]");
    EXPECT_EQ(o.lines[4].rfind("FAILED native [", 0), 0u) << o.lines[4];
    EXPECT_NE(o.lines[4].find("Permission denied"), std::string::npos) << o.lines[4];
    EXPECT_EQ(o.lines[5],
              "FAILED native [(/var/tmp/scripts/fails.sh )] [3] [cannot inspect the node]");
    EXPECT_EQ(o.lines[8], "FAILED Vxlg 9030 [/etc/security/none.conf] [node1]");
    EXPECT_TRUE(etcChanges(o).empty());

    // Without limits.conf, only a limits.d file that defines the limit can
    // take it; when none does, the limit was set nowhere.
    node.hidePath("/etc/security/limits.conf");
    o = fix({limit("SOFT_FILES", "65536"), limit("SOFT_PROCESS", "8192")});
    EXPECT_EQ(o.lines,
              (Lines{"FAILED Vxlg 9030 [/etc/security/limits.conf] [node1] output [UsePAM yes]",
                     "SUCCESSFUL"}));
    EXPECT_EQ(etcChanges(o), Lines{"/etc/security/limits.d/90-nproc.conf"});
}

}  // namespace
}  // namespace vxl_fixup
