#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "sandbox/NodeTestSupport.h"
#include "support/TempDir.h"

using namespace vxl_fixup;
using Kind = FileChange::Kind;
using Lines = std::vector<std::string>;

// The node sees its fixtures and its own changes, which stay in it: the
// machine's /etc is as it was.
TEST(TestNodeTest, FixturesAreSeenAndOnlyRealChangesAreReported) {
    VXL_REQUIRE_TEST_NODE();
    const std::string before = vxl_test::TempDir::fingerprint("/etc");
    TestNode node;
    node.addFile("/etc/sysctl.conf", "kernel.shmmax = 1\n", 0600)
        .addFile("/sbin/vxl-helper", "#!/bin/sh\necho helper\n", 0755)  // lands in /usr/sbin
        .addFile("/etc/vxldir/a", "a")
        .addFile("/etc/vxldir/b", "b")
        .addFile("/etc/vxl-gone", "x")
        .addFile("/etc/vxl-mode", "m")
        .hidePath("/etc/hostname")
        .addTmpfs("/mnt/vxl-small", 64 * 1024);  // not kept in the result
    NodeResult r = node.run(
        "set -e\n"
        "test \"$(stat -c %a /etc/sysctl.conf)\" = 600\n"
        "test \"$(/usr/sbin/vxl-helper)\" = helper\n"
        "test ! -e /etc/hostname\n"
        "sed -i 's/1/2/' /etc/sysctl.conf\n"
        ": >> /etc/hosts\n"  // copied up, unchanged
        "sed -i 's/^root:/root:/' /etc/passwd /etc/shadow\n"  // replaced, the same
        "rm /etc/vxl-gone\n"
        "chmod 0600 /etc/vxl-mode\n"
        "rm -r /etc/vxldir && mkdir /etc/vxldir /etc/vxl-newdir\n"
        "echo n > /etc/vxldir/new && printf b > /etc/vxldir/b\n"  // made again, the same
        "echo x > /bin/vxl-new\n"
        "dd if=/dev/zero of=/mnt/vxl-small/f bs=1k count=200 2>&1 | grep -q 'No space left'\n");
    ASSERT_TRUE(r.ran()) << r.setupError;
    ASSERT_EQ(r.exitCode, 0) << r.stderrText;
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf"), std::optional<std::string>("kernel.shmmax = 2\n"));
    EXPECT_EQ(r.changes(), (std::vector<FileChange>{{"/etc/sysctl.conf", Kind::Modified},
                                                    {"/etc/vxl-gone", Kind::Deleted},
                                                    {"/etc/vxl-mode", Kind::Modified},
                                                    {"/etc/vxl-newdir", Kind::Created},
                                                    {"/etc/vxldir/a", Kind::Deleted},
                                                    {"/etc/vxldir/new", Kind::Created},
                                                    {"/usr/bin/vxl-new", Kind::Created}}));
    EXPECT_EQ(vxl_test::TempDir::fingerprint("/etc"), before);
    EXPECT_FALSE(vxl_test::TempDir::exists("/usr/bin/vxl-new"));
}

// What the library asks of sysctl: read and write a key.
TEST(TestNodeTest, FakeSysctlAnswersFromItsState) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.addFakeSysctl()
        .set("kernel.sem", "250\t32000\t100\t128")
        .set("kernel.shmmax", "4096")
        .set("kernel.locked", "1")
        .setReadOnly("kernel.locked");
    const struct {
        const char *command, *out, *errPart;
        int exitCode;
        const char *key, *value;  // the key's value after the run, when key is set
    } cases[] = {
        {"sysctl -n kernel.sem", "250\t32000\t100\t128\n", "", 0, nullptr, nullptr},
        {"sysctl -n kernel.nope", "", "cannot stat /proc/sys/kernel/nope", 255, nullptr, nullptr},
        {"sysctl -w kernel.shmmax=8192", "kernel.shmmax = 8192\n", "", 0, "kernel.shmmax", "8192"},
        {"sysctl -w 'kernel.sem=1\t2  3\t4'", "kernel.sem = 1\t2  3\t4\n", "", 0, "kernel.sem",
         "1\t2  3\t4"},
        {"sysctl -w kernel.locked=0", "", "permission denied on key 'kernel.locked'", 255,
         "kernel.locked", "1"},
    };
    for (const auto& c : cases) {
        NodeResult r = node.run(c.command);
        ASSERT_TRUE(r.ran()) << r.setupError;
        EXPECT_EQ(r.stdoutText, c.out) << c.command;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.command;
        EXPECT_TRUE(*c.errPart ? r.stderrText.find(c.errPart) != std::string::npos
                               : r.stderrText.empty())
            << c.command << ": " << r.stderrText;
        if (c.key) {
            EXPECT_EQ(r.sysctlValue(c.key).value_or("<none>"), c.value) << c.command;
        }
    }
}

TEST(TestNodeTest, ForcedFakeToolsAnswerAsToldAndLogEveryCall) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.addFakeTool("/usr/bin/vxl-fake", "said\n", "warned\n", 3);
    node.addFakeSysctl().set("kernel.sem", "1").forceResult("partial\n", "broken\n", 4);
    NodeResult r = node.run("vxl-fake -x 'a b' ''; echo rc=$?; sysctl -w 'kernel.sem=1 2'");
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText, "said\nrc=3\npartial\n");
    EXPECT_EQ(r.stderrText, "warned\nbroken\n");
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.commandLog(),
              (Lines{"/usr/bin/vxl-fake [-x] [a b] []", "/sbin/sysctl [-w] [kernel.sem=1 2]"}));
    EXPECT_EQ(r.sysctlValue("kernel.sem"), std::optional<std::string>("1"));
    EXPECT_TRUE(r.changes().empty());
}

TEST(TestNodeTest, FunctionRunsInsideTheNodeAndNeverReturnsToTheTest) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    const pid_t testPid = getpid();
    NodeResult r = node.runFunction([&] {
        std::printf("pid %d\n", getpid());
        std::cout << "cout\n";
        std::cerr << "cerr\n";
        return 7;
    });
    ASSERT_EQ(getpid(), testPid);
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_EQ(r.stdoutText, "pid 2\ncout\n");
    EXPECT_EQ(r.stderrText, "cerr\n");

    NodeResult thrown = node.runFunction([]() -> int { throw std::runtime_error("boom"); });
    EXPECT_EQ(thrown.exitCode, 250);
    EXPECT_EQ(thrown.stderrText, "uncaught exception: boom\n");
    NodeResult killed = node.runFunction([] { return kill(getpid(), SIGTERM); });
    EXPECT_EQ(killed.termSignal, SIGTERM);
    EXPECT_EQ(killed.exitCode, 128 + SIGTERM);
}

TEST(TestNodeTest, OwnNamespacesHostnameAndEnvironment) {
    VXL_REQUIRE_TEST_NODE();
    setenv("VXL_NODE_LEAK", "leaked", 1);
    TestNode node;
    node.setHostname("node1.example.com").setEnv("VXL_SET", "a b");
    NodeResult r = node.run(
        "echo \"$$ $(hostname) [$VXL_SET] [$VXL_NODE_LEAK]\"; ls /sys | wc -l;"
        "tail -n +3 /proc/net/dev | cut -d: -f1 | tr -d ' ';"
        "echo 1 > /proc/sys/fs/file-max || echo ro");
    unsetenv("VXL_NODE_LEAK");
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText, "2 node1.example.com [a b] []\n0\nlo\nro\n");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_STRNE(host, "node1.example.com");
}

TEST(TestNodeTest, TimeLimitKillsTheWholeNode) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.setTimeout(std::chrono::milliseconds(300));
    auto t0 = std::chrono::steady_clock::now();
    NodeResult r = node.run("sleep 30 & sleep 30; echo never");
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitCode, 128 + SIGKILL);
    EXPECT_EQ(r.stdoutText, "");
    // A daemon left behind by the payload dies with the node.
    NodeResult daemon = node.run("(sleep 30 &) ; echo started");
    EXPECT_EQ(daemon.exitCode, 0);
    EXPECT_FALSE(daemon.timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST(TestNodeTest, RunFolderGoesWithTheLastResult) {
    VXL_REQUIRE_TEST_NODE();
    std::string folder;
    {
        std::optional<NodeResult> copy;
        {
            TestNode node;
            NodeResult r =
                node.run("mkdir -p /var/vxl/locked && chmod 0 /var/vxl/locked; kill -9 $$");
            EXPECT_EQ(r.termSignal, SIGKILL);
            folder = r.runFolder();
            copy = r;
        }
        EXPECT_TRUE(vxl_test::TempDir::exists(folder + "/upper/var/vxl/locked")) << folder;
    }
    EXPECT_FALSE(folder.empty() || vxl_test::TempDir::exists(folder)) << folder;
}

TEST(TestNodeTest, BadDeclarationsEndInASetupError) {
    const struct {
        const char* name;
        std::function<void(TestNode&)> declare;
        const char* messagePart;
    } cases[] = {
        {"relative", [](TestNode& n) { n.addFile("etc/x", ""); }, "'etc/x' is not absolute"},
        {"reserved", [](TestNode& n) { n.addFile("/.vxlnode/x", ""); }, "reserved"},
        {"sysctl key", [](TestNode& n) { n.addFakeSysctl().set("a..b", "1"); }, "'a..b'"},
        {"under file", [](TestNode& n) { n.addFile("/etc/vxl-f", "").addFile("/etc/vxl-f/x", ""); },
         "under the fixture file"},
        {"timeout", [](TestNode& n) { n.setTimeout(std::chrono::milliseconds(0)); }, "time limit"},
    };
    for (const auto& c : cases) {
        TestNode node;
        c.declare(node);
        NodeResult r = node.run("true");
        EXPECT_FALSE(r.ran()) << c.name;
        EXPECT_EQ(r.exitCode, -1) << c.name;
        EXPECT_NE(r.setupError.find(c.messagePart), std::string::npos)
            << c.name << ": " << r.setupError;
        EXPECT_FALSE(r.exists("/etc")) << c.name;
    }
    TestNode node;
    EXPECT_FALSE(node.runFunction(nullptr).ran());
}
