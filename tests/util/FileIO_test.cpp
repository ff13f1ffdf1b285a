#include "util/FileIO.h"

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
    EXPECT_EQ(TempDir::list(dir.path()), Names{"conf"});
}

TEST_F(WriteFileAtomicallyTest, EqualContentWritesNothing) {
    TempDir::write(path, "same\n");
    const struct stat before = statOf(path);
    ::usleep(20000);
    ASSERT_TRUE(writeFileAtomically(path, "same\n", error));
    const struct stat after = statOf(path);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec);
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

struct LimitedWrite {
    std::string path, original, content;
    bool inPlace;
};

// In the child: the write must fail with EFBIG.
int writeUnderLimit(void* argument) {
    const auto* w = static_cast<LimitedWrite*>(argument);
    int error = 0;
    const bool written = w->inPlace ? rewriteFileInPlace(w->path, w->original, w->content, error)
                                    : writeFileAtomically(w->path, w->content, error);
    return written ? 1 : (error == EFBIG ? 0 : 2);
}

TEST_F(WriteFileAtomicallyTest, WriteFailureLeavesOriginal) {
    for (const bool inPlace : {false, true}) {
        LimitedWrite w{path, "original bytes\n", std::string(8192, 'n'), inPlace};
        TempDir::write(path, w.original);
        EXPECT_EQ(vxl_test::runWithFileSizeLimit(4096, writeUnderLimit, &w), 0) << inPlace;
        EXPECT_EQ(TempDir::read(path), w.original) << inPlace;
        EXPECT_EQ(TempDir::list(dir.path()), Names{"conf"}) << inPlace;
    }
}

// Content made in pieces is replaced the same way: whole or not at all.
int writePiecesUnderLimit(void* argument) {
    const auto* path = static_cast<std::string*>(argument);
    int error = 0;
    bool refusedAfterFailure = false;
    const bool written = writeFileAtomically(
        *path,
        [&](const ContentWriter& write) {
            bool ok = true;
            for (int i = 0; i < 8; ++i) ok = write(std::string(1024, 'p'));
            refusedAfterFailure = !ok && !write("x");
        },
        error);
    return written ? 1 : (error == EFBIG && refusedAfterFailure ? 0 : 2);
}

TEST_F(WriteFileAtomicallyTest, ContentInPiecesReplacesTheFileWholeOrNotAtAll) {
    TempDir::write(path, "original bytes\n");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(vxl_test::runWithFileSizeLimit(4096, writePiecesUnderLimit, &path), 0);
    EXPECT_EQ(TempDir::read(path), "original bytes\n");
    EXPECT_EQ(TempDir::list(dir.path()), Names{"conf"});

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
