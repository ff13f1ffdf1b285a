#include "sandbox/NodeLayers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sandbox/NodeTools.h"
#include "support/TempDir.h"

using namespace vxl_fixup;
using namespace vxl_fixup::node_detail;
using K = LayerEntry::Kind;
using vxl_test::TempDir;

namespace {

// Entries: kind, opaque, mode.
const LayerEntry kDir{K::Directory, false, 0755};
const LayerEntry kFile{K::Regular, false, 0644}, kLink{K::Symlink, false, 0777};
const LayerEntry kWhiteout{K::Whiteout};

// A merged-/usr machine: /sbin -> usr/sbin, /lib -> /usr/lib (absolute).
MemoryLayer machine() {
    MemoryLayer m;
    for (const char* dir : {"/usr", "/usr/sbin", "/usr/lib", "/etc", "/etc/ssh"}) m.put(dir, kDir);
    m.put("/sbin", kLink, "usr/sbin");
    m.put("/lib", kLink, "/usr/lib");
    m.put("/loop1", kLink, "loop2");
    m.put("/loop2", kLink, "/loop1");
    m.put("/etc/hosts", kFile, "127.0.0.1 localhost\n");
    m.put("/etc/ssh/a", kFile, "a");
    m.put("/etc/ssh/b", kFile, "b");
    return m;
}

}  // namespace

TEST(NodeLayersTest, ResolvesSymlinkedParentsButNotTheLastComponent) {
    MemoryLayer m = machine();
    LayerStack stack({&m});
    const std::pair<const char*, const char*> cases[] = {
        // path, canonical path (nullptr: unresolvable)
        {"/sbin/sysctl", "/usr/sbin/sysctl"},
        {"/lib/x/y", "/usr/lib/x/y"},
        {"/sbin", "/sbin"},
        {"/etc/./ssh/../hosts", "/etc/hosts"},
        {"/sbin/../etc", "/usr/etc"},  // ".." after a symlink follows the target
        {"/missing/dir/file", "/missing/dir/file"},
        {"/loop1/x", nullptr},
        {"etc/hosts", nullptr},
    };
    for (const auto& [path, canonical] : cases) {
        EXPECT_EQ(stack.resolve(path),
                  canonical ? std::optional<std::string>(canonical) : std::nullopt)
            << path;
    }
}

TEST(NodeLayersTest, MergesLikeOverlayfs) {
    MemoryLayer lower = machine(), upper;
    upper.put("/etc", kDir);
    upper.put("/etc/hosts", kWhiteout);
    upper.put("/etc/ssh", {K::Directory, /*opaque=*/true, 0700});
    upper.put("/etc/ssh/c", kFile, "c");
    upper.put("/etc/new", kFile, "new");
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
    TempDir dir, outside;
    const std::string root = dir.file("tree");
    TempDir::write(outside.file("keep"), "keep");
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "/work").c_str(), 0700), 0);
    TempDir::write(root + "/work/f", "x");
    ASSERT_EQ(symlink(outside.path().c_str(), (root + "/link").c_str()), 0);
    // Locked as the overlay leaves it; only root can still enter it.
    ASSERT_EQ(chmod((root + "/work").c_str(), geteuid() == 0 ? 0 : 0700), 0);

    EXPECT_TRUE(removeTree(root));
    EXPECT_FALSE(TempDir::exists(root));
    EXPECT_TRUE(TempDir::exists(outside.file("keep")));
    EXPECT_TRUE(removeTree(root));  // already gone is fine
}
