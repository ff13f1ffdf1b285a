// Run level, packages and the package database inside a test node: a fake
// systemctl (no systemd runs in a node), real init tables, and the real rpm
// and rpmbuild with a package built here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tasks/system/SystemTaskInNode.h"

namespace vxl_fixup {
namespace {

using vxl_test::runInNode;
using vxl_test::SettingsInstance;
using Lines = std::vector<std::string>;

const std::string kRefused = "FAILED Vxlg/9031()";

SettingsInstance runLevel(const char* level, const char* systemd = "true") {
    SettingsInstance::Items items;
    if (systemd) items.push_back({"POST_DV7_SYSTEM", systemd});
    return SettingsInstance("TASKRUNLEVEL", items, level);
}

TEST(RunLevelNodeTest, SystemdModeSetsTheDefaultTarget) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.addFakeTool("/bin/systemctl").hidePath("/etc/inittab");
    const auto o = runInNode(node, {runLevel("3"), runLevel("graphical.target"), runLevel("7"),
                                    runLevel("multiuser"), runLevel(nullptr), runLevel("3", "1")});
    EXPECT_EQ(o.lines, (Lines{"SUCCESSFUL", "SUCCESSFUL", kRefused, kRefused, kRefused,
                              "FAILED Vxlg/9030(/etc/inittab|node1)"}));
    EXPECT_EQ(o.node.commandLog(), (Lines{"/bin/systemctl [set-default] [multi-user.target]",
                                          "/bin/systemctl [set-default] [graphical.target]"}));

    TestNode failing;
    failing.addFakeTool("/bin/systemctl", "", "Failed to connect to bus\n", 1);
    EXPECT_EQ(runInNode(failing, {runLevel("0")}).lines,
              Lines{"FAILED Vxlg/9054(poweroff.target|/bin/systemctl set-default "
                    "poweroff.target|node1|Failed to connect to bus) "
                    "native[Failed to connect to bus]"});
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
    auto o = runInNode(
        node, {runLevel("5", nullptr), runLevel("S", "false"), runLevel("5:respawn", nullptr),
               runLevel("", nullptr), runLevel("5\nx:3:initdefault:", nullptr)});
    EXPECT_EQ(o.lines, (Lines{"SUCCESSFUL", "SUCCESSFUL", kRefused, kRefused, kRefused}));
    EXPECT_EQ(o.node.fileContent("/etc/inittab").value_or(""), inittab("S"));

    const std::string commented = "#id:3:initdefault:\nsi::sysinit:/etc/init.d/rcS\n";
    node.addFile("/etc/inittab", commented);
    o = runInNode(node, {runLevel("5", nullptr)});
    EXPECT_EQ(o.lines, Lines{"FAILED Vxlg/9044(/etc/inittab|node1)"});
    EXPECT_EQ(o.node.fileContent("/etc/inittab").value_or(""), commented);
}

const std::string kPackageFile = "vxltest-1.0-1.noarch.rpm";
const std::string kLocation = "/var/tmp/pkgs";
const std::string kGroupRecord = "/var/tmp/vxltest-groups";

// Built once with the real rpmbuild, in a node: a noarch package without
// files whose install script appends the group it received to kGroupRecord.
// The script is Lua, which needs no /bin/sh in the package database (Debian's
// rpm starts with an empty one).
const std::string& testPackage() {
    static const std::string package = [] {
        TestNode node;
        node.addFile("/var/tmp/vxltest.spec",
                     "Name: vxltest\nVersion: 1.0\nRelease: 1\nSummary: test\nLicense: none\n"
                     "BuildArch: noarch\n%description\nRecords its group.\n"
                     "%pre -p <lua>\nlocal f = io.open(\"" +
                         kGroupRecord +
                         "\", \"a\")\n"
                         "f:write((os.getenv(\"VEXELQDISK_GRP\") or \"<unset>\") .. \"\\n\")\n"
                         "f:close()\n%files\n");
        const NodeResult r = node.run(
            "rpmbuild -bb --quiet --define '_topdir /var/tmp/rpmbuild' /var/tmp/vxltest.spec");
        EXPECT_EQ(r.exitCode, 0) << r.stdoutText << r.stderrText;
        return r.fileContent("/var/tmp/rpmbuild/RPMS/noarch/" + kPackageFile).value_or("");
    }();
    return package;
}

SettingsInstance package(const std::string& name, const std::string& location = kLocation,
                         const std::string& group = "qdiskgrp") {
    return SettingsInstance("TASKPACKAGE", {{"NAME", name}, {"LOC", location}, {"GROUP", group}});
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
    static void prepare() {
        ::mkdir("/var/lib/rpm", 0755);
        for (const char* name : {"__db.001", "__db.002", "__dbx"}) {
            std::fclose(std::fopen((std::string("/var/lib/rpm/") + name).c_str(), "w"));
        }
    }
    vxl_test::NodeOutcome run(const std::vector<SettingsInstance>& instances) {
        return runInNode(node, instances, prepare);
    }
    TestNode node;
};

TEST_F(PackageNodeTest, InstallsOnceFromTheLocationHandingTheGroupToItsScripts) {
    const auto o =
        run({package(kPackageFile), package(kPackageFile), package("vxltest", "/var/tmp/nowhere"),
             package("notapkg.rpm"), package("missing.rpm", "/var/tmp/nowhere")});
    ASSERT_EQ(o.lines.size(), 5u) << o.node.stdoutText;
    EXPECT_EQ(Lines(o.lines.begin(), o.lines.begin() + 3), Lines(3, "SUCCESSFUL"))
        << "installed once; an installed package needs no package file";
    EXPECT_EQ(o.lines[3].rfind("FAILED Vxlg/9045(notapkg.rpm|/var/tmp/pkgs|node1) native[", 0), 0u)
        << o.lines[3];
    EXPECT_NE(o.lines[3].find("error: /var/tmp/pkgs/notapkg.rpm: not an rpm package"),
              std::string::npos)
        << "rpm's own message: " << o.lines[3];
    EXPECT_EQ(o.lines[4], "FAILED Vxlg/9021(/var/tmp/nowhere/missing.rpm|node1)");
    EXPECT_EQ(o.node.fileContent(kGroupRecord).value_or("<not installed>"), "qdiskgrp\n");
}

TEST_F(PackageNodeTest, RefusesWhatRpmOrTheShellWouldMisread) {
    const auto o =
        run({package("vxl test.rpm"), package("vxltest*.rpm"), package(kPackageFile, "-rf"),
             package(kPackageFile, kLocation, "qdiskgrp\nX=1"),
             SettingsInstance("TASKPACKAGE", {{"NAME", kPackageFile}, {"LOC", kLocation}})});
    EXPECT_EQ(o.lines, Lines(5, kRefused));
    EXPECT_FALSE(o.node.exists("/var/lib/rpm/rpmdb.sqlite")) << "rpm never ran";
}

TEST_F(PackageNodeTest, DatabaseIsRebuiltAfterItsStaleFilesAreRemoved) {
    const SettingsInstance database("TASKCHECKRPMPACKAGEMANAGER", {});
    auto o = run({package(kPackageFile), database, package(kPackageFile)});
    EXPECT_EQ(o.lines, Lines(3, "SUCCESSFUL"));
    EXPECT_FALSE(o.node.exists("/var/lib/rpm/__db.001") || o.node.exists("/var/lib/rpm/__db.002"));
    EXPECT_TRUE(o.node.exists("/var/lib/rpm/rpmdb.sqlite"));
    EXPECT_EQ(o.node.fileContent(kGroupRecord).value_or(""), "qdiskgrp\n")
        << "the rebuilt database still knows the package";

    // A database path rpm cannot use: the rebuild fails with rpm's message.
    node.addFile("/etc/rpm/macros", "%_dbpath /etc/hostname/rpmdb\n");
    o = run({database});
    ASSERT_EQ(o.lines.size(), 1u);
    EXPECT_EQ(o.lines[0].rfind("FAILED Vxlg/9094(/bin/rpm --rebuilddb|node1|error: ", 0), 0u)
        << o.lines[0];
    EXPECT_NE(o.lines[0].find("/etc/hostname/rpmdb"), std::string::npos) << o.lines[0];
    EXPECT_FALSE(o.node.exists("/var/lib/rpm/__db.001")) << "removed before the rebuild";
    EXPECT_TRUE(o.node.exists("/var/lib/rpm/__dbx")) << "not matched by the removal pattern";
}

}  // namespace
}  // namespace vxl_fixup
