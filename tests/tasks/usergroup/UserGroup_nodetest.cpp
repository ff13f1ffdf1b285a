// Users, groups and memberships fixed by the real account tools (useradd,
// usermod, groupadd, groupmod, id, grep, cut, awk) on a test node's own
// /etc/passwd, /etc/group and /etc/shadow.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/usergroup/sTaskUserGroupFixup.h"

namespace vxl_fixup {
namespace {

using vxl_test::TaskInstance;
using Lines = std::vector<std::string>;

const std::string kAccounts = "/etc/passwd /etc/group /etc/shadow /etc/gshadow";

TaskInstance user(const std::string& name, const std::string& uid, const std::string& group = "",
                  const std::string& gid = "") {
    TaskInstance in{"TASKUSEREXISTENCE", {{"USER", name}, {"UID", uid}}};
    if (!group.empty()) in.data.insert(in.data.end(), {{"GROUP", group}, {"GID", gid}});
    return in;
}
TaskInstance group(const std::string& name, const std::string& gid) {
    return {"TASKGROUPEXISTENCE", {{"GROUP", name}, {"GID", gid}}};
}
TaskInstance member(const std::string& name, const std::string& group, const char* expected = "") {
    TaskInstance in{"TASKGROUPMEMBERSHIP", {{"USER", name}, {"GROUP", group}}};
    if (*expected) in.expected = expected;
    return in;
}

// What a node run left; the account files as setup left them are in
// /var/tmp/accounts.before.
struct Outcome : vxl_test::Fixed {
    std::string line(const std::string& file, const std::string& name) const {
        const std::string content = "\n" + fileContent(file).value_or("");
        const size_t at = content.find("\n" + name + ":");
        if (at == std::string::npos) return "<none>";
        return content.substr(at + 1, content.find('\n', at + 1) - at - 1);
    }
    bool accountsUnchanged() const {
        std::string now;
        for (const char* f : {"/etc/passwd", "/etc/group", "/etc/shadow", "/etc/gshadow"}) {
            now += fileContent(f).value_or("");
        }
        return now == fileContent("/var/tmp/accounts.before");
    }
    bool traced(const std::string& source, const std::string& message) const {
        return trace().find("sTaskUserGroupFixup::" + source + " - " + message + "\n") !=
               std::string::npos;
    }
};

class UserGroupNodeTest : public ::testing::Test {
protected:
    void SetUp() override { VXL_REQUIRE_TEST_NODE(); }
    // In a fresh node: the shell setup (real tools), then the instances.
    Outcome fix(const std::string& setup, const std::vector<TaskInstance>& instances,
                const std::function<int()>& more = nullptr) {
        const std::string shell = setup + (setup.empty() ? "" : " && ") + "cat " + kAccounts +
                                  " > /var/tmp/accounts.before";
        return {vxl_test::fixInNode<sTaskUserGroupFixup>(node, instances, [&] {
            return std::system(shell.c_str()) != 0 ? 90 : more ? more() : 0;
        })};
    }
    TestNode node;
};

const std::string kGrepDbgrp = "(grep  '^dbgrp:' /etc/group)";
const std::string kGidDbgrp = "(grep  '^dbgrp:' /etc/group | cut -f3 -d:)";
const std::string kIdDbuser = "(/usr/bin/id  dbuser -u)";

// A new user with a new primary group and a home; an existing user and group
// whose ids are corrected.
TEST_F(UserGroupNodeTest, CreatesOrCorrectsUsersAndGroups) {
    const Outcome o = fix(
        "groupadd -g 54000 oldgrp && useradd -u 54001 -g oldgrp -m olduser",
        {user("dbuser", "54321", "dbgrp", "54320"), user("olduser", "54323", "oldgrp", "54322")});
    EXPECT_EQ(o.lines, (Lines{"SUCCESSFUL", "SUCCESSFUL"}));
    EXPECT_EQ(o.commands(),
              (Lines{kGrepDbgrp, "(/usr/sbin/groupadd  -g 54320 dbgrp)", kIdDbuser,
                     "(/usr/sbin/useradd  -u 54321 -g dbgrp -m dbuser)",
                     "(grep  '^oldgrp:' /etc/group)", "(grep  '^oldgrp:' /etc/group | cut -f3 -d:)",
                     "(/usr/sbin/groupmod  -g 54322 oldgrp)", "(/usr/bin/id  olduser -u)",
                     "(/usr/sbin/usermod  -u 54323 olduser)"}));
    EXPECT_EQ(o.line("/etc/passwd", "dbuser"), "dbuser:x:54321:54320::/home/dbuser:/bin/sh");
    EXPECT_EQ(o.line("/etc/group", "dbgrp"), "dbgrp:x:54320:");
    const auto home = o.file("/home/dbuser");
    EXPECT_TRUE(home && home->type == NodeFile::Type::Directory && home->uid == 54321u);
    EXPECT_EQ(o.line("/etc/passwd", "olduser"), "olduser:x:54323:54322::/home/olduser:/bin/sh");
    EXPECT_EQ(o.line("/etc/group", "oldgrp"), "oldgrp:x:54322:");
    EXPECT_TRUE(
        o.traced("fixGroup", "Successfully modified group (oldgrp)  GID to (54322) on this node."));
    EXPECT_TRUE(o.traced("fixUser",
                         "User (olduser) found already existing but has different UID, Correcting "
                         "UID of the user to 54323"));
    EXPECT_TRUE(
        o.traced("fixUser", "Successfully modified User (olduser)  UID to (54323) on this node."));
}

// What is already right, or is missing from the instance, runs nothing but
// the checks; an identifier outside the family ends UNKNOWN.
TEST_F(UserGroupNodeTest, WhatIsRightOrIncompleteRunsOnlyTheChecks) {
    const Outcome o = fix("groupadd -g 54320 dbgrp && useradd -u 54321 -g dbgrp dbuser",
                          {user("dbuser", "54321", "dbgrp", "54320"),
                           member("dbuser", "dbgrp", "PRIMARY_GROUP"),
                           member("dbuser", "dbgrp"),
                           {"TASKUSEREXISTENCE", {{"UID", "54321"}}},
                           user("dbuser", ""),
                           {"TASKGROUPEXISTENCE", {{"GID", "54320"}}},
                           {"TASKGROUPMEMBERSHIP", {{"GROUP", "dbgrp"}}},
                           {"TASKKERNELPARAM"}});
    EXPECT_EQ(o.lines,
              (Lines{"SUCCESSFUL", "SUCCESSFUL", "SUCCESSFUL", "FAILED Vxlg 9031",
                     "FAILED Vxlg 9031", "FAILED Vxlg 9031", "FAILED Vxlg 9031", "UNKNOWN"}));
    EXPECT_EQ(o.commands(), (Lines{kGrepDbgrp, kGidDbgrp, kIdDbuser,  // user
                                   kGrepDbgrp, kGidDbgrp, kIdDbuser,  // primary
                                   "(/usr/bin/id  -ng dbuser)",       //
                                   kGrepDbgrp, kGidDbgrp, kIdDbuser,  // supplementary
                                   "(/usr/bin/id  -nG dbuser)"}));
    EXPECT_TRUE(o.accountsUnchanged());
}

TEST_F(UserGroupNodeTest, HomeThatCannotBeCreatedEndsWarning) {
    node.addTmpfs("/home", 1 << 20);
    // Lines holding "nohome:" elsewhere must not give the home directory.
    const Outcome o =
        fix("useradd -c webnohome -d /srv/svc svc && useradd -d /srv/x nohomex && "
            "mount -o remount,ro /home",
            {user("nohome", "54321")});
    EXPECT_EQ(o.lines,
              Lines{"WARNING Vxlg 9049 [/home/nohome] [nohome] [node1] native [(/usr/sbin/useradd  "
                    "-u 54321 -m nohome)] [12] [useradd: cannot create directory /home/nohome] "
                    "output [/home/nohome]"});
    EXPECT_EQ(o.commands(),
              (Lines{"(/usr/bin/id  nohome -u)", "(/usr/sbin/useradd  -u 54321 -m nohome)",
                     "(/usr/bin/id  nohome -u)",
                     "cat /etc/passwd | grep '^nohome:' | awk -F: '{print $6}'"}));
    EXPECT_TRUE(o.traced(
        "fixUser",
        "Created User (nohome) on this node, but command resulted in an error or warning."));
    EXPECT_TRUE(o.traced("fixUser",
                         "Retrieved the home directory for newly added User (nohome) on this node, "
                         "The home directory path is /home/nohome"));
    EXPECT_TRUE(o.traced("fixUser",
                         "The home directory path /home/nohome for the newly created user's home "
                         "does not exists"));
    EXPECT_EQ(o.line("/etc/passwd", "nohome"), "nohome:x:54321:54321::/home/nohome:/bin/sh");
}

TEST_F(UserGroupNodeTest, IdsTakenFailWithTheToolsOwnText) {
    const Outcome o =
        fix("useradd -u 54100 taken && useradd -u 54101 other && groupadd -g 54102 grp2",
            {user("dbuser", "54100"), user("other", "54100"), group("grp2", "54100"),
             group("dbuser", "54100")});
    const std::string useradd = "useradd: UID 54100 is not unique";
    EXPECT_EQ(
        o.lines,
        (Lines{"FAILED Vxlg 9032 [dbuser] [node1] [/usr/sbin/useradd] [" + useradd + "\\n" +
                   useradd + "] native [(/usr/sbin/useradd  -u 54100 -m dbuser)] [4] [" + useradd +
                   "] native [(/usr/sbin/useradd  -u 54100 dbuser)] [4] [" + useradd + "]",
               "FAILED Vxlg 9038 [other] [54100] [node1] native [(/usr/sbin/usermod  -u "
               "54100 other)] [4] [usermod: UID '54100' already exists]",
               "FAILED Vxlg 9039 [grp2] [54100] [node1] native [(/usr/sbin/groupmod  -g "
               "54100 grp2)] [4] [groupmod: GID '54100' already exists]",
               "FAILED Vxlg 9033 [dbuser] [node1] native [(/usr/sbin/groupadd  -g 54100 "
               "dbuser)] [4] [groupadd: GID '54100' already exists]"}));
    EXPECT_TRUE(o.accountsUnchanged());
}

TEST_F(UserGroupNodeTest, PasswdLockHeldByAnotherProcessFailsAndLeavesPasswdAlone) {
    // The holder lives until the node ends.
    const Outcome o = fix("", {user("dbuser", "54321")}, [] {
        const pid_t holder = ::fork();
        if (holder == 0) {
            ::pause();
            ::_exit(0);
        }
        FILE* lock = std::fopen("/etc/passwd.lock", "w");
        return holder > 0 && lock && std::fprintf(lock, "%d", holder) > 0 && !std::fclose(lock)
                   ? 0
                   : 92;
    });
    const std::string said = "useradd: lock /etc/passwd.lock already used by PID " +
                             o.fileContent("/etc/passwd.lock").value_or("?") +
                             "useradd: cannot lock /etc/passwd; try again later.";
    EXPECT_EQ(o.lines,
              Lines{"FAILED Vxlg 9032 [dbuser] [node1] [/usr/sbin/useradd] [" + said + "\\n" +
                    said + "] native [(/usr/sbin/useradd  -u 54321 -m dbuser)] [1] [" + said +
                    "] native [(/usr/sbin/useradd  -u 54321 dbuser)] [1] [" + said + "]"});
    EXPECT_TRUE(o.accountsUnchanged());
}

TEST_F(UserGroupNodeTest, MembershipKeepsEveryGroupTheUserHadAndNamesMatchWhole) {
    const Outcome o =
        fix("groupadd -g 54001 staffa && groupadd -g 54002 wheela && groupadd -g 54003 dbgrp && "
            "useradd -g staffa -G wheela dbuser && useradd -g staffa appuser && "
            "useradd -g staffa lcuser && groupadd -g 54200 grpadmin && groupadd -g 54300 dxgrp",
            {member("dbuser", "dbgrp"), member("appuser", "dbgrp", "PRIMARY_GROUP"),
             // Only PRIMARY_GROUP, in that letter case, asks for the primary group.
             member("lcuser", "wheela", "primary_group"), member("ghost", "dbgrp"),
             member("dbuser", "nogrp", "PRIMARY_GROUP"), member("ghost", "nogrp"),
             group("grp", "54201"), group("d.grp", "54202")});
    EXPECT_EQ(o.lines, (Lines{"SUCCESSFUL", "SUCCESSFUL", "SUCCESSFUL",
                              "FAILED Vxlg 9034 [ghost] [node1] Vxlg 9036 [ghost] [dbgrp] [node1]",
                              "FAILED Vxlg 9035 [nogrp] [node1] Vxlg 9036 [dbuser] [nogrp] [node1]",
                              "FAILED Vxlg 9034 [ghost] [node1] Vxlg 9035 [nogrp] [node1] "
                              "Vxlg 9036 [ghost] [nogrp] [node1]",
                              "SUCCESSFUL", "SUCCESSFUL"}));
    Lines usermods;
    for (const std::string& c : o.commands()) {
        if (c.find("usermod") != std::string::npos) usermods.push_back(c);
    }
    EXPECT_EQ(usermods, (Lines{"(/usr/sbin/usermod  -G staffa,wheela,dbgrp dbuser)",
                               "(/usr/sbin/usermod  -g dbgrp appuser)",
                               "(/usr/sbin/usermod  -G dbgrp,staffa appuser)",
                               "(/usr/sbin/usermod  -G staffa,wheela lcuser)"}));
    EXPECT_NE(o.line("/etc/passwd", "appuser").find(":54003::/home/appuser:"), std::string::npos)
        << "dbgrp is its primary group";
    EXPECT_EQ(o.line("/etc/group", "staffa"), "staffa:x:54001:dbuser,appuser,lcuser");
    EXPECT_EQ(o.line("/etc/group", "wheela"), "wheela:x:54002:dbuser,lcuser");
    EXPECT_EQ(o.line("/etc/group", "dbgrp"), "dbgrp:x:54003:dbuser,appuser");
    // grp is told apart from grpadmin, d.grp from dxgrp.
    EXPECT_EQ(o.line("/etc/group", "grp"), "grp:x:54201:");
    EXPECT_EQ(o.line("/etc/group", "d.grp"), "d.grp:x:54202:");
}

}  // namespace
}  // namespace vxl_fixup
