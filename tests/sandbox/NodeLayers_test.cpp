#include "sandbox/NodeLayers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "sandbox/FakeTools.h"

using namespace vxl_fixup;
using namespace vxl_fixup::node_detail;
using K = LayerEntry::Kind;

namespace {

LayerEntry entry(K kind, mode_t mode = 0644, bool opaque = false) {
    LayerEntry e;
    e.kind = kind;
    e.mode = mode;
    e.opaque = opaque;
    return e;
}

// A merged-/usr machine: /sbin -> usr/sbin, /lib -> /usr/lib (absolute).
MemoryLayer machine() {
    MemoryLayer m;
    m.put("/usr", entry(K::Directory, 0755));
    m.put("/usr/sbin", entry(K::Directory, 0755));
    m.put("/usr/lib", entry(K::Directory, 0755));
    m.put("/sbin", entry(K::Symlink, 0777), "usr/sbin");
    m.put("/lib", entry(K::Symlink, 0777), "/usr/lib");
    m.put("/loop1", entry(K::Symlink, 0777), "loop2");
    m.put("/loop2", entry(K::Symlink, 0777), "/loop1");
    m.put("/etc", entry(K::Directory, 0755));
    m.put("/etc/hosts", entry(K::Regular), "127.0.0.1 localhost\n");
    m.put("/etc/ssh", entry(K::Directory, 0755));
    m.put("/etc/ssh/a", entry(K::Regular), "a");
    m.put("/etc/ssh/b", entry(K::Regular), "b");
    return m;
}

}  // namespace

TEST(NodeLayersTest, ResolvesSymlinkedParentsButNotTheLastComponent) {
    MemoryLayer m = machine();
    LayerStack stack({&m});
    const struct {
        const char* in;
        const char* out;  // nullptr: unresolvable
    } cases[] = {
        {"/sbin/sysctl", "/usr/sbin/sysctl"},
        {"/lib/x/y", "/usr/lib/x/y"},
        {"/sbin", "/sbin"},
        {"/etc/./ssh/../hosts", "/etc/hosts"},
        {"/sbin/../etc", "/usr/etc"},  // ".." after a symlink follows the target
        {"/..", "/"},
        {"/", "/"},
        {"//etc//hosts/", "/etc/hosts"},
        {"/missing/dir/file", "/missing/dir/file"},
        {"/loop1/x", nullptr},
        {"etc/hosts", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        std::optional<std::string> got = stack.resolve(c.in);
        if (c.out) {
            EXPECT_EQ(got, std::optional<std::string>(c.out)) << c.in;
        } else {
            EXPECT_FALSE(got) << c.in;
        }
    }
}

TEST(NodeLayersTest, MergesLikeOverlayfs) {
    MemoryLayer lower = machine();
    MemoryLayer upper;
    upper.put("/etc", entry(K::Directory, 0755));
    upper.put("/etc/hosts", entry(K::Whiteout));
    upper.put("/etc/ssh", entry(K::Directory, 0700, /*opaque=*/true));
    upper.put("/etc/ssh/c", entry(K::Regular), "c");
    upper.put("/etc/new", entry(K::Regular, 0600), "new");
    LayerStack after({&upper, &lower});

    EXPECT_EQ(after.lookup("/etc/hosts").kind, K::Absent);
    EXPECT_EQ(after.lookup("/etc/ssh/a").kind, K::Absent);
    EXPECT_EQ(after.lookup("/etc/ssh").mode, 0700u);
    EXPECT_EQ(after.list("/etc"), (std::vector<std::string>{"new", "ssh"}));
    EXPECT_EQ(after.list("/etc/ssh"), (std::vector<std::string>{"c"}));
    EXPECT_EQ(after.content("/etc/new"), std::optional<std::string>("new"));
    EXPECT_EQ(after.lookup("/etc/hosts/x").kind, K::Absent);
    EXPECT_EQ(after.lookup("/etc/new/x").kind, K::Absent);  // not a directory
}

TEST(NodeLayersTest, ReportsChangesAgainstTheStartingNode) {
    MemoryLayer lower = machine();
    LayerStack before({&lower});
    MemoryLayer upper;
    upper.put("/etc", entry(K::Directory, 0755));                         // copied up only
    upper.put("/etc/hosts", entry(K::Regular), "127.0.0.1 localhost\n");  // same bytes
    upper.put("/etc/ssh", entry(K::Directory, 0755, /*opaque=*/true));
    upper.put("/etc/ssh/b", entry(K::Regular), "b");  // made again, same
    upper.put("/etc/ssh/c", entry(K::Regular), "c");
    upper.put("/usr", entry(K::Directory, 0755));
    upper.put("/usr/sbin", entry(K::Directory, 0755));
    upper.put("/usr/sbin/tool", entry(K::Regular, 0755), "#!/bin/sh\n");
    upper.put("/usr/lib", entry(K::Whiteout));
    upper.put("/.vxlnode", entry(K::Directory, 0755));
    upper.put("/.vxlnode/commands.log", entry(K::Regular), "x\n");
    upper.put("/home", entry(K::Directory, 0700));
    std::vector<FileChange> got = scanChanges(upper, before, {kStateDir});
    std::vector<FileChange> want = {
        {"/etc/ssh/a", FileChange::Kind::Deleted},     {"/etc/ssh/c", FileChange::Kind::Created},
        {"/home", FileChange::Kind::Created},          {"/usr/lib", FileChange::Kind::Deleted},
        {"/usr/sbin/tool", FileChange::Kind::Created},
    };
    EXPECT_EQ(got, want);

    MemoryLayer upper2;
    upper2.put("/etc", entry(K::Directory, 0755));
    upper2.put("/etc/hosts", entry(K::Regular, 0600), "127.0.0.1 localhost\n");  // chmod
    upper2.put("/etc/ssh", entry(K::Directory, 0755));
    upper2.put("/etc/ssh/a", entry(K::Regular), "A");  // content
    EXPECT_EQ(scanChanges(upper2, before, {}),
              (std::vector<FileChange>{{"/etc/hosts", FileChange::Kind::Modified},
                                       {"/etc/ssh/a", FileChange::Kind::Modified}}));
}

TEST(NodeLayersTest, SysctlKeysAreNormalisedOrRejected) {
    EXPECT_EQ(sysctlKey("kernel.shmmax"), "kernel.shmmax");
    EXPECT_EQ(sysctlKey("net/ipv4/ip_forward"), "net.ipv4.ip_forward");
    for (const char* bad : {"", ".x", "a..b", "../etc", "a=b", "a b", "a\tb", "a\nb"}) {
        EXPECT_EQ(sysctlKey(bad), "") << bad;
    }
}

// The overlay work folder holds a root-owned directory without permissions;
// the tree must go without following a symlink out of it.
TEST(NodeLayersTest, RemoveTreeTakesLockedFoldersAndLeavesSymlinkTargets) {
    char tmpl[] = "/tmp/vxlnodetest.XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    std::string root = tmpl;
    std::string outside = root + "-outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
    std::ofstream(outside + "/keep") << "keep";
    ASSERT_EQ(mkdir((root + "/work").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "/work/work").c_str(), 0700), 0);
    std::ofstream(root + "/work/work/f") << "x";
    ASSERT_EQ(symlink(outside.c_str(), (root + "/link").c_str()), 0);
    ASSERT_EQ(chmod((root + "/work/work").c_str(), 0), 0);
    if (geteuid() != 0) chmod((root + "/work/work").c_str(), 0700);  // only root ignores modes

    EXPECT_TRUE(removeTree(root));
    struct stat st;
    EXPECT_NE(lstat(root.c_str(), &st), 0);
    EXPECT_EQ(lstat((outside + "/keep").c_str(), &st), 0);
    EXPECT_TRUE(removeTree(root));  // already gone is fine
    removeTree(outside);
}
