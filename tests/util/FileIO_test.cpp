#include "util/FileIO.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

struct stat statOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    return names;
}

class WriteFileAtomicallyTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("conf");
    int error = 0;
};

TEST_F(WriteFileAtomicallyTest, KeepsOwnerModeAndAttributes) {
    TempDir::write(path, "old\n");
    ASSERT_EQ(::chown(path.c_str(), 12345, 12346), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool haveXattr = ::setxattr(path.c_str(), "user.vxl", "v1", 2, 0) == 0;
    const ino_t oldInode = statOf(path).st_ino;

    ASSERT_TRUE(writeFileAtomically(path, "new\n", error)) << std::strerror(error);
    EXPECT_EQ(TempDir::read(path), "new\n");
    const struct stat st = statOf(path);
    EXPECT_NE(st.st_ino, oldInode) << "replaced, not rewritten";
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 12346u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (haveXattr) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(path.c_str(), "user.vxl", value, sizeof value), 2);
        EXPECT_STREQ(value, "v1");
    }
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"conf"});
}

TEST_F(WriteFileAtomicallyTest, EqualContentWritesNothing) {
    TempDir::write(path, "same\n");
    const struct stat before = statOf(path);
    ::usleep(20000);
    ASSERT_TRUE(writeFileAtomically(path, "same\n", error));
    const struct stat after = statOf(path);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec);
}

TEST_F(WriteFileAtomicallyTest, SymlinkTargetIsReplacedLinkKept) {
    const std::string realDir = dir.file("real");
    ASSERT_EQ(::mkdir(realDir.c_str(), 0700), 0);
    const std::string target = realDir + "/target";
    TempDir::write(target, "old");
    ASSERT_EQ(::symlink("real/target", path.c_str()), 0);
    ASSERT_TRUE(writeFileAtomically(path, "new", error));
    EXPECT_TRUE(S_ISLNK(statOf(path).st_mode));
    EXPECT_EQ(TempDir::read(target), "new");
    EXPECT_EQ(entries(realDir), std::vector<std::string>{"target"});
}

TEST_F(WriteFileAtomicallyTest, NewFileAndRefusals) {
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(writeFileAtomically(path, "fresh", error));
    EXPECT_EQ(statOf(path).st_mode & 07777, 0644u);
    ::umask(mask);
    EXPECT_EQ(TempDir::read(path), "fresh");

    EXPECT_FALSE(writeFileAtomically(dir.path(), "x", error));
    EXPECT_EQ(error, EISDIR);
    EXPECT_FALSE(writeFileAtomically(dir.file("missing/dir/file"), "x", error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(writeFileAtomically("", "x", error));
    const std::string dangling = dir.file("dangling");
    ASSERT_EQ(::symlink("nowhere", dangling.c_str()), 0);
    EXPECT_FALSE(writeFileAtomically(dangling, "x", error));
    EXPECT_EQ(entries(dir.path()).size(), 2u);
}

struct LimitedWrite {
    std::string path;
    std::string original;
    std::string content;
};

int atomicUnderLimit(void* argument) {
    auto* w = static_cast<LimitedWrite*>(argument);
    int error = 0;
    if (writeFileAtomically(w->path, w->content, error)) return 1;
    return error == EFBIG ? 0 : 2;
}

int inPlaceUnderLimit(void* argument) {
    auto* w = static_cast<LimitedWrite*>(argument);
    int error = 0;
    if (rewriteFileInPlace(w->path, w->original, w->content, error)) return 1;
    return error == EFBIG ? 0 : 2;
}

TEST_F(WriteFileAtomicallyTest, WriteFailureLeavesOriginal) {
    LimitedWrite w{path, "original bytes\n", std::string(8192, 'n')};
    const struct table {
        const char* name;
        int (*body)(void*);
    } cases[] = {{"atomic", atomicUnderLimit}, {"in place", inPlaceUnderLimit}};
    for (const auto& c : cases) {
        TempDir::write(path, w.original);
        EXPECT_EQ(vxl_test::runWithFileSizeLimit(4096, c.body, &w), 0) << c.name;
        EXPECT_EQ(TempDir::read(path), w.original) << c.name;
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"conf"}) << c.name;
    }
}

TEST_F(WriteFileAtomicallyTest, InPlaceRewriteKeepsInode) {
    TempDir::write(path, "a long original text\n");
    const ino_t inode = statOf(path).st_ino;
    ASSERT_TRUE(rewriteFileInPlace(path, "a long original text\n", "short\n", error));
    EXPECT_EQ(TempDir::read(path), "short\n");
    EXPECT_EQ(statOf(path).st_ino, inode);
}

TEST(RemoveTreeTest, RemovesWithoutFollowingLinks) {
    TempDir dir, outside;
    TempDir::write(outside.file("keep"), "k");
    const std::string root = dir.file("tree");
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/d").c_str(), 0500), 0);
    TempDir::write(root + "/f", "");
    ASSERT_EQ(::symlink(outside.path().c_str(), (root + "/link").c_str()), 0);
    int error = 0;
    EXPECT_TRUE(removeTree(root, error));
    EXPECT_FALSE(TempDir::exists(root));
    EXPECT_TRUE(TempDir::exists(outside.file("keep")));
    EXPECT_TRUE(removeTree(root, error)) << "missing is fine";
    const std::string link = dir.file("toplink");
    ASSERT_EQ(::symlink(outside.path().c_str(), link.c_str()), 0);
    EXPECT_TRUE(removeTree(link, error));
    EXPECT_TRUE(TempDir::exists(outside.file("keep")));
}

}  // namespace
}  // namespace vxl_fixup
