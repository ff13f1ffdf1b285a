#include "util/FileIO.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/Shell.h"
#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;
using Names = std::vector<std::string>;

struct stat statOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

class WriteFileAtomicallyTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("conf");
    int error = 0;
};

// Replaced, not rewritten, keeping owner, mode and attributes; the same
// bytes again write nothing.
TEST_F(WriteFileAtomicallyTest, KeepsOwnerModeAndAttributesAndSkipsEqualContent) {
    TempDir::write(path, "old\n");
    ASSERT_EQ(::chown(path.c_str(), 12345, 12346), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool haveXattr = ::setxattr(path.c_str(), "user.vxl", "v1", 2, 0) == 0;
    const ino_t oldInode = statOf(path).st_ino;

    ASSERT_TRUE(writeFileAtomically(path, "new\n", error)) << std::strerror(error);
    EXPECT_EQ(TempDir::read(path), "new\n");
    const struct stat st = statOf(path);
    EXPECT_NE(st.st_ino, oldInode);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 12346u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (haveXattr) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(path.c_str(), "user.vxl", value, sizeof value), 2);
        EXPECT_STREQ(value, "v1");
    }
    EXPECT_EQ(TempDir::list(dir.path()), Names{"conf"});

    ::usleep(20000);
    ASSERT_TRUE(writeFileAtomically(path, "new\n", error));
    EXPECT_EQ(statOf(path).st_ino, st.st_ino);
    EXPECT_EQ(statOf(path).st_ctim.tv_nsec, st.st_ctim.tv_nsec);
}

TEST_F(WriteFileAtomicallyTest, SymlinkTargetIsReplacedLinkKept) {
    const std::string realDir = dir.file("real");
    ASSERT_EQ(::mkdir(realDir.c_str(), 0700), 0);
    TempDir::write(realDir + "/target", "old");
    ASSERT_EQ(::symlink("real/target", path.c_str()), 0);
    ASSERT_TRUE(writeFileAtomically(path, "new", error));
    EXPECT_TRUE(S_ISLNK(statOf(path).st_mode));
    EXPECT_EQ(TempDir::read(realDir + "/target"), "new");
    EXPECT_EQ(TempDir::list(realDir), Names{"target"});

    // A link someone else owns is never followed.
    if (::geteuid() != 0) return;
    ASSERT_EQ(::lchown(path.c_str(), 12345, 12345), 0);
    EXPECT_FALSE(writeFileAtomically(path, "planted", error));
    EXPECT_EQ(error, EPERM);
    EXPECT_EQ(TempDir::read(realDir + "/target"), "new");
}

TEST_F(WriteFileAtomicallyTest, NewFileAndRefusals) {
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(writeFileAtomically(path, "fresh", error));
    EXPECT_EQ(statOf(path).st_mode & 07777, 0644u);
    ::umask(mask);

    const std::string dangling = dir.file("dangling");
    ASSERT_EQ(::symlink("nowhere", dangling.c_str()), 0);
    const std::pair<std::string, int> refusals[] = {
        {dir.path(), EISDIR}, {dir.file("missing/dir/file"), ENOENT}, {"", 0}, {dangling, 0}};
    for (const auto& r : refusals) {
        EXPECT_FALSE(writeFileAtomically(r.first, "x", error)) << r.first;
        EXPECT_TRUE(r.second == 0 || error == r.second) << r.first << ": " << error;
    }
    EXPECT_EQ(TempDir::list(dir.path()), (Names{"conf", "dangling"}));
}

// In a child: writing 8 KB past a 4 KB file-size limit, whole, in place or
// in pieces (where the write after the failure is refused too), must fail
// with EFBIG.
int writeUnderLimit(void* argument) {
    const auto& [path, how] = *static_cast<std::pair<std::string, std::string>*>(argument);
    const std::string content(8192, 'n');
    int error = 0;
    bool written = false, refusedAfterFailure = true;
    if (how == "whole") written = writeFileAtomically(path, content, error);
    if (how == "in place") written = rewriteFileInPlace(path, "original bytes\n", content, error);
    if (how == "pieces") {
        written = writeFileAtomically(
            path,
            [&](const ContentWriter& write) {
                bool ok = true;
                for (int i = 0; i < 8; ++i) ok = write(std::string(1024, 'p'));
                refusedAfterFailure = !ok && !write("x");
            },
            error);
    }
    return written ? 1 : (error == EFBIG && refusedAfterFailure ? 0 : 2);
}

TEST_F(WriteFileAtomicallyTest, WriteFailureLeavesTheOriginalAndNothingBeside) {
    for (const char* how : {"whole", "in place", "pieces"}) {
        TempDir::write(path, "original bytes\n");
        std::pair<std::string, std::string> argument{path, how};
        EXPECT_EQ(vxl_test::runInChild(writeUnderLimit, &argument, 4096), 0) << how;
        EXPECT_EQ(TempDir::read(path), "original bytes\n") << how;
        EXPECT_EQ(TempDir::list(dir.path()), Names{"conf"}) << how;
    }
}

TEST_F(WriteFileAtomicallyTest, PiecesAndInPlaceRewritesKeepTheFile) {
    TempDir::write(path, "a long original text\n");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const ino_t inode = statOf(path).st_ino;
    ASSERT_TRUE(rewriteFileInPlace(path, "a long original text\n", "short\n", error));
    EXPECT_EQ(TempDir::read(path), "short\n");
    EXPECT_EQ(statOf(path).st_ino, inode);
    ASSERT_TRUE(writeFileAtomically(
        path,
        [](const ContentWriter& write) {
            for (const char* piece : {"one ", "", "two\n"}) write(piece);
        },
        error));
    EXPECT_EQ(TempDir::read(path), "one two\n");
    EXPECT_EQ(statOf(path).st_mode & 07777, 0600u);
    EXPECT_EQ(TempDir::list(dir.path()), Names{"conf"});
}

TEST(RemoveTreeTest, RemovesWithoutFollowingLinks) {
    TempDir dir, outside;
    TempDir::write(outside.file("keep"), "k");
    const std::string root = dir.file("tree"), link = dir.file("toplink");
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/d").c_str(), 0500), 0);
    TempDir::write(root + "/f", "");
    ASSERT_EQ(::symlink(outside.path().c_str(), (root + "/link").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), link.c_str()), 0);
    int error = 0;
    EXPECT_TRUE(removeTree(root, error));
    EXPECT_TRUE(removeTree(root, error)) << "missing is fine";
    EXPECT_TRUE(removeTree(link, error));
    EXPECT_EQ(TempDir::list(dir.path()), Names{});
    EXPECT_EQ(TempDir::list(outside.path()), Names{"keep"});
}

}  // namespace
}  // namespace vxl_fixup
