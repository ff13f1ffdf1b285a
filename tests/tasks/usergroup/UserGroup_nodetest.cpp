// Users, groups and memberships fixed by the real account tools (useradd,
// usermod, groupadd, groupmod, id, grep, cut, awk) on a test node's own
// /etc/passwd, /etc/group and /etc/shadow.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "sandbox/NodeTestSupport.h"
#include "support/TempDir.h"
#include "tasks/usergroup/sTaskUserGroupFixup.h"
#include "util/FixupUtil.h"
#include "vxlfixup/vxlfixup.h"

namespace vxl_fixup {
namespace {

using Task = sTaskUserGroupFixup;
const std::string kWork = "/var/tmp/ugwork/";
const std::vector<std::string> kAccountFiles = {"/etc/passwd", "/etc/group", "/etc/shadow",
                                                "/etc/gshadow"};

std::string accountFiles() {
    std::string all;
    for (const std::string& f : kAccountFiles) all += vxl_test::TempDir::read(f);
    return all;
}

// Per result, in order: "STATUS", then one line per NLS error and per native
// error. Releases the results. (The elements of a braced list are evaluated
// in order, so the calls run in the order written.)
std::string describe(std::initializer_list<Result*> results) {
    std::string text;
    for (Result* result : results) {
        std::unique_ptr<Result> owned(result);
        text += statusToString(result->getStatus()) + "\n";
        for (const NLSError* e : result->getErrorList()) {
            text += *e->facility + " " + *e->messageNumber;
            for (const std::string* a : e->arguments) text += " [" + *a + "]";
            text += "\n";
        }
        for (const NativeError* e : result->getNativeErrorList()) {
            text += "native " + (e->command ? *e->command : "") + " exit " +
                    std::to_string(e->exitCode) + ": " + (e->details ? *e->details : "") + "\n";
        }
    }
    return text;
}

// What a node run left: the body's text and the commands the library ran.
struct Outcome {
    NodeResult node;
    std::string text;
    std::string trace;
    std::vector<std::string> commands;

    std::string line(const std::string& file, const std::string& name) const {
        const std::string content = "\n" + node.fileContent(file).value_or("");
        const size_t at = content.find("\n" + name + ":");
        if (at == std::string::npos) return "<none>";
        return content.substr(at + 1, content.find('\n', at + 1) - at - 1);
    }
};

class UserGroupNodeTest : public ::testing::Test {
protected:
    void SetUp() override { VXL_REQUIRE_TEST_NODE(); }

    // In a fresh node: the shell setup (real tools), then body with a task
    // and a run's constants, trace and scratch pad, as inside a run.
    Outcome run(const std::string& setup, const std::function<std::string(Task&)>& body) {
        Outcome o;
        o.node = node.runFunction([&] {
            if (std::system(setup.c_str()) != 0) return 90;
            ::mkdir(kWork.c_str(), 0700);
            Trace::resetForTesting();
            Constants::setWorkDirPath(kWork);
            Constants::setLocalNodeName("node1");
            Trace::setTraceLevel(0);
            FixupUtil::initScratchPad();
            const std::string id = "TASKUSEREXISTENCE";
            FixupData* data = new FixupData(&id);
            RunObjects::adopt(data);
            std::string text;
            {
                Task task(data);
                text = body(task);
            }
            FixupUtil::disposeScratchPad();
            Trace::close();
            std::fputs(text.c_str(), stdout);
            std::fflush(stdout);
            return 0;
        });
        EXPECT_EQ(o.node.exitCode, 0) << o.node.setupError << o.node.stderrText;
        o.text = o.node.stdoutText;
        o.trace = o.node.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("");
        const std::string mark = "sFixupUtil::runCommandInternal - Executing command ";
        for (size_t at = o.trace.find(mark); at != std::string::npos;
             at = o.trace.find(mark, at + 1)) {
            const size_t start = at + mark.size();
            o.commands.push_back(o.trace.substr(start, o.trace.find(" >" + kWork, start) - start));
        }
        return o;
    }
    bool traced(const Outcome& o, const std::string& source, const std::string& message) {
        return o.trace.find("sTaskUserGroupFixup::" + source + " - " + message + "\n") !=
               std::string::npos;
    }
    TestNode node;
};

using Commands = std::vector<std::string>;
const std::string kGrepDbgrp = "(grep  '^dbgrp:' /etc/group)";
const std::string kGidDbgrp = "(grep  '^dbgrp:' /etc/group | cut -f3 -d:)";
const std::string kIdDbuser = "(/usr/bin/id  dbuser -u)";

TEST_F(UserGroupNodeTest, CreatesUserWithNewPrimaryGroupAndHome) {
    std::string dbuser = "dbuser", uid = "54321", dbgrp = "dbgrp", gid = "54320";
    Outcome o =
        run("", [&](Task& t) { return describe({t.fixUser(&dbuser, &uid, &dbgrp, &gid)}); });
    EXPECT_EQ(o.text, "SUCCESSFUL\n");
    EXPECT_EQ(o.commands, (Commands{kGrepDbgrp, "(/usr/sbin/groupadd  -g 54320 dbgrp)", kIdDbuser,
                                    "(/usr/sbin/useradd  -u 54321 -g dbgrp -m dbuser)"}));
    EXPECT_EQ(o.line("/etc/passwd", "dbuser"), "dbuser:x:54321:54320::/home/dbuser:/bin/sh");
    EXPECT_EQ(o.line("/etc/group", "dbgrp"), "dbgrp:x:54320:");
    const auto home = o.node.file("/home/dbuser");
    ASSERT_TRUE(home.has_value());
    EXPECT_EQ(home->type, NodeFile::Type::Directory);
    EXPECT_EQ(home->uid, 54321u);
}

TEST_F(UserGroupNodeTest, CorrectsUidAndGid) {
    std::string dbuser = "dbuser", uid = "54321", dbgrp = "dbgrp", gid = "54320";
    Outcome o = run("groupadd -g 54000 dbgrp && useradd -u 54001 -g dbgrp -m dbuser",
                    [&](Task& t) { return describe({t.fixUser(&dbuser, &uid, &dbgrp, &gid)}); });
    EXPECT_EQ(o.text, "SUCCESSFUL\n");
    EXPECT_EQ(o.commands, (Commands{kGrepDbgrp, kGidDbgrp, "(/usr/sbin/groupmod  -g 54320 dbgrp)",
                                    kIdDbuser, "(/usr/sbin/usermod  -u 54321 dbuser)"}));
    EXPECT_EQ(o.line("/etc/passwd", "dbuser"), "dbuser:x:54321:54320::/home/dbuser:/bin/sh");
    EXPECT_EQ(o.line("/etc/group", "dbgrp"), "dbgrp:x:54320:");
    EXPECT_TRUE(
        traced(o, "fixGroup", "Successfully modified group (dbgrp)  GID to (54320) on this node."));
    EXPECT_TRUE(traced(o, "fixUser",
                       "User (dbuser) found already existing but has different UID, Correcting "
                       "UID of the user to 54321"));
    EXPECT_TRUE(
        traced(o, "fixUser", "Successfully modified User (dbuser)  UID to (54321) on this node."));
}

TEST_F(UserGroupNodeTest, WhatIsAlreadyRightRunsOnlyTheChecks) {
    std::string dbuser = "dbuser", uid = "54321", dbgrp = "dbgrp", gid = "54320";
    Outcome o = run("groupadd -g 54320 dbgrp && useradd -u 54321 -g dbgrp dbuser", [&](Task& t) {
        const std::string before = accountFiles();
        std::string text = describe({t.fixUser(&dbuser, &uid, &dbgrp, &gid),
                                     t.createGroupMembership(&dbuser, &dbgrp, true),
                                     t.createGroupMembership(&dbuser, &dbgrp, false)});
        return text + (accountFiles() == before ? "unchanged" : "changed");
    });
    EXPECT_EQ(o.text, "SUCCESSFUL\nSUCCESSFUL\nSUCCESSFUL\nunchanged");
    EXPECT_EQ(o.commands, (Commands{kGrepDbgrp, kGidDbgrp, kIdDbuser,  // user
                                    kGrepDbgrp, kGidDbgrp, kIdDbuser,  // primary
                                    "(/usr/bin/id  -ng dbuser)",       //
                                    kGrepDbgrp, kGidDbgrp, kIdDbuser,  // supplementary
                                    "(/usr/bin/id  -nG dbuser)"}));
}

TEST_F(UserGroupNodeTest, HomeThatCannotBeCreatedEndsWarning) {
    node.addTmpfs("/home", 1 << 20);
    std::string nohome = "nohome", uid = "54321";
    Outcome o = run("mount -o remount,ro /home", [&](Task& t) {
        return describe({t.fixUser(&nohome, &uid, nullptr, nullptr)});
    });
    EXPECT_EQ(o.text,
              "WARNING\n"
              "Vxlg 9049 [/home/nohome] [nohome] [node1]\n"
              "native (/usr/sbin/useradd  -u 54321 -m nohome) exit 12: useradd: cannot create "
              "directory /home/nohome\n");
    EXPECT_EQ(o.commands,
              (Commands{"(/usr/bin/id  nohome -u)", "(/usr/sbin/useradd  -u 54321 -m nohome)",
                        "(/usr/bin/id  nohome -u)",
                        "cat /etc/passwd | grep '^nohome:' | awk -F: '{print $6}'"}));
    EXPECT_TRUE(traced(o, "fixUser",
                       "Created User (nohome) on this node, but command resulted in an error or "
                       "warning."));
    EXPECT_TRUE(traced(o, "fixUser",
                       "Retrieved the home directory for newly added User (nohome) on this node, "
                       "The home directory path is /home/nohome"));
    EXPECT_TRUE(traced(o, "fixUser",
                       "The home directory path /home/nohome for the newly created user's home "
                       "does not exists"));
    EXPECT_EQ(o.line("/etc/passwd", "nohome"), "nohome:x:54321:54321::/home/nohome:/bin/sh");
}

TEST_F(UserGroupNodeTest, IdsTakenFailWithTheToolsOwnText) {
    std::string dbuser = "dbuser", other = "other", taken = "54100", grp2 = "grp2";
    Outcome o = run(
        "useradd -u 54100 taken && useradd -u 54101 other && groupadd -g 54102 grp2", [&](Task& t) {
            const std::string before = accountFiles();
            std::string text = describe({t.fixUser(&dbuser, &taken, nullptr, nullptr),
                                         t.fixUser(&other, &taken, nullptr, nullptr),
                                         t.fixGroup(&grp2, &taken), t.fixGroup(&dbuser, &taken)});
            return text + (accountFiles() == before ? "unchanged" : "changed");
        });
    EXPECT_EQ(o.text,
              "FAILED\n"
              "Vxlg 9032 [dbuser] [node1] [/usr/sbin/useradd] [useradd: UID 54100 is not "
              "unique\nuseradd: UID 54100 is not unique]\n"
              "native (/usr/sbin/useradd  -u 54100 -m dbuser) exit 4: useradd: UID 54100 is not "
              "unique\n"
              "native (/usr/sbin/useradd  -u 54100 dbuser) exit 4: useradd: UID 54100 is not "
              "unique\n"
              "FAILED\n"
              "Vxlg 9038 [other] [54100] [node1]\n"
              "native (/usr/sbin/usermod  -u 54100 other) exit 4: usermod: UID '54100' already "
              "exists\n"
              "FAILED\n"
              "Vxlg 9039 [grp2] [54100] [node1]\n"
              "native (/usr/sbin/groupmod  -g 54100 grp2) exit 4: groupmod: GID '54100' already "
              "exists\n"
              "FAILED\n"
              "Vxlg 9033 [dbuser] [node1]\n"
              "native (/usr/sbin/groupadd  -g 54100 dbuser) exit 4: groupadd: GID '54100' "
              "already exists\n"
              "unchanged");
}

TEST_F(UserGroupNodeTest, PasswdLockHeldByAnotherProcessFailsAndLeavesPasswdAlone) {
    std::string dbuser = "dbuser", uid = "54321";
    Outcome o = run("", [&](Task& t) {
        const pid_t holder = ::fork();
        if (holder == 0) {
            ::pause();
            ::_exit(0);
        }
        vxl_test::TempDir::write("/etc/passwd.lock", std::to_string(holder));
        const std::string before = vxl_test::TempDir::read("/etc/passwd");
        std::string text = describe({t.fixUser(&dbuser, &uid, nullptr, nullptr)});
        const bool same = vxl_test::TempDir::read("/etc/passwd") == before;
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        return std::to_string(holder) + "\n" + text + (same ? "unchanged" : "changed");
    });
    const std::string pid = o.text.substr(0, o.text.find('\n'));
    const std::string said = "useradd: lock /etc/passwd.lock already used by PID " + pid +
                             "useradd: cannot lock /etc/passwd; try again later.";
    EXPECT_EQ(o.text, pid +
                          "\nFAILED\n"
                          "Vxlg 9032 [dbuser] [node1] [/usr/sbin/useradd] [" +
                          said + "\n" + said +
                          "]\n"
                          "native (/usr/sbin/useradd  -u 54321 -m dbuser) exit 1: " +
                          said +
                          "\n"
                          "native (/usr/sbin/useradd  -u 54321 dbuser) exit 1: " +
                          said +
                          "\n"
                          "unchanged");
}

TEST_F(UserGroupNodeTest, MembershipKeepsEveryGroupTheUserHad) {
    std::string dbuser = "dbuser", appuser = "appuser", ghost = "ghost", dbgrp = "dbgrp",
                nogrp = "nogrp";
    Outcome o =
        run("groupadd -g 54001 staffa && groupadd -g 54002 wheela && groupadd -g 54003 dbgrp && "
            "useradd -g staffa -G wheela dbuser && useradd -g staffa appuser",
            [&](Task& t) {
                return describe({t.createGroupMembership(&dbuser, &dbgrp, false),
                                 t.createGroupMembership(&appuser, &dbgrp, true),
                                 t.createGroupMembership(&ghost, &dbgrp, false),
                                 t.createGroupMembership(&dbuser, &nogrp, true),
                                 t.createGroupMembership(&ghost, &nogrp, false)});
            });
    EXPECT_EQ(o.text,
              "SUCCESSFUL\n"
              "SUCCESSFUL\n"
              "FAILED\nVxlg 9034 [ghost] [node1]\nVxlg 9036 [ghost] [dbgrp] [node1]\n"
              "FAILED\nVxlg 9035 [nogrp] [node1]\nVxlg 9036 [dbuser] [nogrp] [node1]\n"
              "FAILED\nVxlg 9034 [ghost] [node1]\nVxlg 9035 [nogrp] [node1]\n"
              "Vxlg 9036 [ghost] [nogrp] [node1]\n");
    Commands usermods;
    for (const std::string& c : o.commands) {
        if (c.find("usermod") != std::string::npos) usermods.push_back(c);
    }
    EXPECT_EQ(usermods, (Commands{"(/usr/sbin/usermod  -G staffa,wheela,dbgrp dbuser)",
                                  "(/usr/sbin/usermod  -g dbgrp appuser)",
                                  "(/usr/sbin/usermod  -G dbgrp,staffa appuser)"}));
    EXPECT_NE(o.line("/etc/passwd", "appuser").find(":54003::/home/appuser:"), std::string::npos)
        << "dbgrp is its primary group";
    EXPECT_EQ(o.line("/etc/group", "staffa"), "staffa:x:54001:dbuser,appuser");
    EXPECT_EQ(o.line("/etc/group", "wheela"), "wheela:x:54002:dbuser");
    EXPECT_EQ(o.line("/etc/group", "dbgrp"), "dbgrp:x:54003:dbuser,appuser");
}

TEST_F(UserGroupNodeTest, NamesAreMatchedAsWholeFirstFields) {
    std::string grp = "grp", grpadmin = "grpadmin", gid = "54201", admingid = "54200",
                dotted = "d.grp", app = "app";
    Outcome o = run(
        "groupadd -g 54200 grpadmin && groupadd -g 54300 dxgrp && useradd -d /srv/xapp xapp && "
        "useradd -c webapp -d /srv/svc svc && useradd -d /srv/app app",
        [&](Task& t) {
            long id = 0;
            Result home;
            const std::string* dir = t.retrieveHomeDirLocal(&app, &home);
            std::string text = describe({t.fixGroup(&grpadmin, &admingid), t.fixGroup(&grp, &gid)});
            text += t.isGroupExisting(&dotted, id) ? "d.grp found\n" : "no d.grp\n";
            return text + "home " + (dir ? *dir : "<null>");
        });
    EXPECT_EQ(o.text, "SUCCESSFUL\nSUCCESSFUL\nno d.grp\nhome /srv/app");
    EXPECT_EQ(o.line("/etc/group", "grp"), "grp:x:54201:");
}

TEST_F(UserGroupNodeTest, BadInputRunsNothing) {
    using Items = std::vector<std::pair<std::string, std::string>>;
    const std::vector<std::pair<std::string, Items>> cases = {
        {"TASKUSEREXISTENCE", {{"UID", "54321"}}},
        {"TASKUSEREXISTENCE", {{"USER", "dbuser"}, {"UID", ""}}},
        {"TASKUSEREXISTENCE", {{"USER", "dbuser"}, {"UID", "-5"}}},
        {"TASKUSEREXISTENCE", {{"USER", "dbuser"}, {"UID", "12a"}}},
        {"TASKUSEREXISTENCE", {{"USER", "dbuser"}, {"UID", "1"}, {"GROUP", "g"}, {"GID", "12a"}}},
        {"TASKUSEREXISTENCE", {{"USER", "db user"}, {"UID", "54321"}}},
        {"TASKUSEREXISTENCE", {{"USER", "db'user"}, {"UID", "54321"}}},
        {"TASKUSEREXISTENCE", {{"USER", "-o"}, {"UID", "54321"}}},
        {"TASKUSEREXISTENCE", {{"USER", "db\nuser"}, {"UID", "54321"}}},
        {"TASKUSEREXISTENCE", {{"USER", "dbuser"}, {"UID", "54321"}, {"GROUP", "-g0"}}},
        {"TASKGROUPEXISTENCE", {{"GID", "54320"}}},
        {"TASKGROUPEXISTENCE", {{"GROUP", "dbgrp"}, {"GID", "-1"}}},
        {"TASKGROUPMEMBERSHIP", {{"GROUP", "dbgrp"}}},
        {"TASKGROUPMEMBERSHIP", {{"USER", "\"dbuser\""}, {"GROUP", "dbgrp"}}},
        {"TASKGROUPMEMBERSHIP", {{"USER", "root"}, {"GROUP", "-G0"}}},
    };
    Outcome o = run("", [&](Task& t) {
        std::string text;
        for (const auto& c : cases) {
            FixupData* data = new FixupData(&c.first);
            RunObjects::adopt(data);
            for (const auto& item : c.second) data->addData(&item.first, &item.second);
            text += describe({t.fix(data)});
        }
        return text;
    });
    std::string expected;
    for (size_t i = 0; i < cases.size(); ++i) expected += "FAILED\nVxlg 9031\n";
    EXPECT_EQ(o.text, expected);
    EXPECT_EQ(o.commands, Commands{});
    for (const std::string& changed : o.node.changedFiles()) {
        EXPECT_EQ(changed.rfind("/var/tmp/ugwork", 0), 0u) << changed;
    }
}

TEST_F(UserGroupNodeTest, WholeRunReportsEachInstance) {
    // The reader takes one tag per line.
    const auto item = [](const std::string& name, const std::string& value) {
        return "<DATA NAME=\"" + name + "\" VAL=\"" + value + "\"/>\n";
    };
    const auto instance = [](const std::string& items, const std::string& expected = "") {
        return "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"node1\" EXP_VAL=\"" + expected +
               "\"/>\n</NODE_LIST>\n<DATA_LIST>\n" + items + "</DATA_LIST>\n</FIXUP_DATA>\n";
    };
    const auto task = [](const std::string& id, const std::string& instances) {
        return "<TASK ID=\"" + id + "\">\n<FIXUP_DATA_LIST>\n" + instances +
               "</FIXUP_DATA_LIST>\n</TASK>\n";
    };
    const std::string doc =
        "<?xml version = '1.0' encoding = 'UTF-8'?>\n<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n" +
        task("TASKUSEREXISTENCE", instance(item("USER", "dbuser") + item("UID", "54321") +
                                           item("GROUP", "dbgrp") + item("GID", "54320")) +
                                      instance(item("USER", "x") + item("UID", "1;id"))) +
        // Only PRIMARY_GROUP, in that letter case, asks for the primary group.
        task("TASKGROUPMEMBERSHIP",
             instance(item("USER", "dbuser") + item("GROUP", "users"), "primary_group")) +
        "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
    NodeResult r = node.runFunction([&] {
        ::mkdir(kWork.c_str(), 0700);
        std::string work = kWork, name = "node1";
        vxlfixup record{};
        record.workDir = &work[0];
        record.nodeName = &name[0];
        const int rc = vxlRunAutoFixup(&record, &doc);
        vxlFixupMemFree(record.outputFile);
        vxlFixupMemFree(record.errorMessage);
        return rc;
    });
    EXPECT_EQ(r.exitCode, 1) << "one instance failed";
    const std::string out = r.fileContent(kWork + "fixup/vexelfixupoutput_node1.xml").value_or("");
    std::vector<std::string> statuses;
    for (size_t at = out.find("<STATUS>"); at != std::string::npos;
         at = out.find("<STATUS>", at + 1)) {
        statuses.push_back(out.substr(at + 8, out.find('<', at + 8) - at - 8));
    }
    EXPECT_EQ(statuses, (std::vector<std::string>{"SUCCESSFUL", "FAILED", "SUCCESSFUL"})) << out;
    Outcome o{r, "", "", {}};
    EXPECT_EQ(o.line("/etc/passwd", "dbuser"), "dbuser:x:54321:54320::/home/dbuser:/bin/sh");
    EXPECT_EQ(o.line("/etc/group", "users"), "users:x:100:dbuser");
}

}  // namespace
}  // namespace vxl_fixup
