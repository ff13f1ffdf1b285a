// Run level, packages and the package database inside a test node: a fake
// systemctl (no systemd runs in a node), real init tables, and the real rpm
// and rpmbuild with a package built here.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/RpmPackage.h"
#include "support/TaskInNode.h"
#include "tasks/system/sTaskSystemSettings.h"

namespace vxl_fixup {
namespace {

using vxl_test::TaskInstance;
using Lines = std::vector<std::string>;

const std::string kRefused = "FAILED Vxlg 9031";

vxl_test::Fixed fix(const TestNode& node, const std::vector<TaskInstance>& instances,
                    const std::function<int()>& setup = nullptr) {
    return vxl_test::fixInNode<sTaskSystemSettings>(node, instances, setup);
}

TaskInstance runLevel(const char* level, const char* systemd = "true") {
    TaskInstance in{"TASKRUNLEVEL"};
    if (systemd) in.data.push_back({"POST_DV7_SYSTEM", systemd});
    if (level) in.expected = level;
    return in;
}

TEST(RunLevelNodeTest, SystemdModeSetsTheDefaultTarget) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.addFakeTool("/bin/systemctl").hidePath("/etc/inittab");
    const auto o = fix(node, {runLevel("3"), runLevel("graphical.target"), runLevel("7"),
                              runLevel("multiuser"), runLevel(nullptr), runLevel("3", "1")});
    EXPECT_EQ(o.lines, (Lines{"SUCCESSFUL", "SUCCESSFUL", kRefused, kRefused, kRefused,
                              "FAILED Vxlg 9030 [/etc/inittab] [node1]"}));
    EXPECT_EQ(o.commandLog(), (Lines{"/bin/systemctl [set-default] [multi-user.target]",
                                     "/bin/systemctl [set-default] [graphical.target]"}));

    TestNode failing;
    failing.addFakeTool("/bin/systemctl", "", "Failed to connect to bus\n", 1);
    EXPECT_EQ(fix(failing, {runLevel("0")}).lines,
              Lines{"FAILED Vxlg 9054 [poweroff.target] [/bin/systemctl  set-default "
                    "poweroff.target] [node1] [Failed to connect to bus] "
                    "native [(/bin/systemctl  set-default poweroff.target)] [1] [Failed to connect "
                    "to bus]"});
}

TEST(RunLevelNodeTest, InitTableModeRewritesTheFirstInitdefaultLine) {
    VXL_REQUIRE_TEST_NODE();
    const auto inittab = [](const std::string& level) {
        return "# /etc/inittab: init(8) configuration.\n"
               "id:" +
               level +
               ":initdefault:\n"
               "si::sysinit:/etc/init.d/rcS\n"
               "l3:3:wait:/etc/init.d/rc 3\n"
               "id:4:initdefault:\n";
    };
    TestNode node;
    node.addFile("/etc/inittab", inittab("3"));
    // Any one word is taken as it is; what would split the line is refused.
    auto o = fix(node, {runLevel("5", nullptr), runLevel("S", "false"),
                        runLevel("5:respawn", nullptr), runLevel("", nullptr)});
    EXPECT_EQ(o.lines, (Lines{"SUCCESSFUL", "SUCCESSFUL", kRefused, kRefused}));
    EXPECT_EQ(o.fileContent("/etc/inittab").value_or(""), inittab("S"));

    // A commented entry is no entry; an entry may leave its run level empty.
    const struct {
        std::string before, line, after;
    } rows[] = {
        {"#id:3:initdefault:\nsi::sysinit:/etc/init.d/rcS\n",
         "FAILED Vxlg 9044 [/etc/inittab] [node1]",
         "#id:3:initdefault:\nsi::sysinit:/etc/init.d/rcS\n"},
        {"#id:3:initdefault:\nid::initdefault:\n", "SUCCESSFUL",
         "#id:3:initdefault:\nid:5:initdefault:\n"},
    };
    for (const auto& row : rows) {
        node.addFile("/etc/inittab", row.before);
        o = fix(node, {runLevel("5", nullptr)});
        EXPECT_EQ(o.lines, Lines{row.line}) << row.before;
        EXPECT_EQ(o.fileContent("/etc/inittab").value_or(""), row.after);
    }
}

const std::string kPackageFile = "vxltest-1.0-1.noarch.rpm";
const std::string kLocation = "/var/tmp/pkgs";
const std::string kGroupRecord = "/var/tmp/vxltest-groups";

// Built once with the real rpmbuild, in a node: a noarch package without
// files whose install script appends the group it received to kGroupRecord.
// The script is Lua, which needs no /bin/sh in the package database (Debian's
// rpm starts with an empty one).
const std::string& testPackage() {
    static const std::string package = vxl_test::buildNoarchPackage(
        "vxltest", "%description\nRecords its group.\n%pre -p <lua>\nlocal f = io.open(\"" +
                       kGroupRecord +
                       "\", \"a\")\n"
                       "f:write((os.getenv(\"VEXELQDISK_GRP\") or \"<unset>\") .. \"\\n\")\n"
                       "f:close()\n%files\n");
    return package;
}

TaskInstance package(const std::string& name, const std::string& location = kLocation,
                     const std::string& group = "qdiskgrp") {
    return {"TASKPACKAGE", {{"NAME", name}, {"LOC", location}, {"GROUP", group}}};
}

class PackageNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        VXL_REQUIRE_TEST_NODE();
        ASSERT_EQ(::access("/usr/bin/rpmbuild", X_OK), 0)
            << "Debian's rpm package is missing: bash scripts/install-deps.sh";
        ASSERT_FALSE(testPackage().empty());
        // Debian installs /usr/bin/rpm; the task runs /bin/rpm, the same file
        // where /bin is merged into /usr. Elsewhere the node gets that link.
        struct stat st {};
        if (::stat("/bin/rpm", &st) != 0) node.addSymlink("/bin/rpm", "/usr/bin/rpm");
        // Debian's rpm keeps its database in ~/.rpmdb; the node's keeps it in
        // /var/lib/rpm, as on the systems whose database the task repairs.
        // A rebuild renames that directory, which an overlay cannot do to a
        // directory of its lower layers: prepare() makes it during the run.
        node.addFile("/etc/rpm/macros", "%_dbpath /var/lib/rpm\n").hidePath("/var/lib/rpm");
        node.addFile(kLocation + "/" + kPackageFile, testPackage());
        node.addFile(kLocation + "/notapkg.rpm", "\x01\x02\x03 not a package\n");
    }
    // The stale environment files of an older rpm, and a file the removal
    // pattern does not match.
    static int prepare() {
        return std::system(
            "mkdir /var/lib/rpm && touch /var/lib/rpm/__db.001 "
            "/var/lib/rpm/__db.002 /var/lib/rpm/__dbx");
    }
    vxl_test::Fixed run(const std::vector<TaskInstance>& instances) {
        return fix(node, instances, prepare);
    }
    TestNode node;
};

// Installed once from the location, the group handed to its install script;
// then the database rebuilt after its stale files, still knowing the package.
TEST_F(PackageNodeTest, InstallsOnceAndRebuildsTheDatabase) {
    const TaskInstance database{"TASKCHECKRPMPACKAGEMANAGER"};
    auto o = run({{"TASKPACKAGE", {{"NAME", kPackageFile}, {"LOC", kLocation}}},
                  package(kPackageFile),
                  package(kPackageFile),
                  package("vxltest", "/var/tmp/nowhere"),
                  package("notapkg.rpm"),
                  package("missing.rpm", "/var/tmp/nowhere"),
                  database,
                  package("vxltest")});
    ASSERT_EQ(o.lines.size(), 8u) << o.stdoutText;
    const std::string installed = "SUCCESSFUL output [vxltest-1.0-1.noarch]";
    EXPECT_EQ(o.lines[0], kRefused) << "no group";
    EXPECT_EQ(o.lines[1].rfind("SUCCESSFUL output [Verifying...", 0), 0u) << o.lines[1];
    EXPECT_EQ(Lines(o.lines.begin() + 2, o.lines.begin() + 4), Lines(2, installed))
        << "installed once; an installed package needs no package file";
    EXPECT_EQ(
        o.lines[4].rfind("FAILED Vxlg 9045 [notapkg.rpm] [/var/tmp/pkgs] [node1] native [", 0), 0u)
        << o.lines[4];
    EXPECT_NE(o.lines[4].find("error: /var/tmp/pkgs/notapkg.rpm: not an rpm package"),
              std::string::npos)
        << "rpm's own message: " << o.lines[4];
    EXPECT_EQ(Lines(o.lines.begin() + 5, o.lines.end()),
              (Lines{"FAILED Vxlg 9021 [/var/tmp/nowhere/missing.rpm] [node1]", "SUCCESSFUL",
                     installed}));
    EXPECT_EQ(o.fileContent(kGroupRecord).value_or("<not installed>"), "qdiskgrp\n");
    EXPECT_FALSE(o.exists("/var/lib/rpm/__db.001") || o.exists("/var/lib/rpm/__db.002"));
    EXPECT_TRUE(o.exists("/var/lib/rpm/rpmdb.sqlite"));

    // A database path rpm cannot use: the rebuild fails with rpm's message.
    node.addFile("/etc/rpm/macros", "%_dbpath /etc/hostname/rpmdb\n");
    o = run({database});
    ASSERT_EQ(o.lines.size(), 1u);
    EXPECT_EQ(o.lines[0].rfind("FAILED Vxlg 9094 [/bin/rpm  --rebuilddb] [node1] [error: ", 0), 0u)
        << o.lines[0];
    EXPECT_NE(o.lines[0].find("/etc/hostname/rpmdb"), std::string::npos) << o.lines[0];
    EXPECT_FALSE(o.exists("/var/lib/rpm/__db.001")) << "removed before the rebuild";
    EXPECT_TRUE(o.exists("/var/lib/rpm/__dbx")) << "not matched by the removal pattern";

    // A removal that fails ends the task with rm's own text: no rebuild.
    node.addFakeTool("/bin/rm", "", "rm: cannot remove '/var/lib/rpm/__db.001': Busy\n", 1)
        .addFakeTool("/bin/rpm");
    o = run({database});
    ASSERT_EQ(o.lines.size(), 1u);
    const std::string busy = "[rm: cannot remove '/var/lib/rpm/__db.001': Busy]";
    EXPECT_EQ(o.lines[0], "FAILED Vxlg 9093 [/var/lib/rpm] [node1] " + busy +
                              " native [(/bin/rm  -rf /var/lib/rpm/__db.*)] [1] " + busy);
    EXPECT_EQ(o.commandLog(),
              Lines{"/bin/rm [-rf] [/var/lib/rpm/__db.001] [/var/lib/rpm/__db.002]"});
    EXPECT_TRUE(o.exists("/var/lib/rpm/__db.001"));
}

}  // namespace
}  // namespace vxl_fixup
