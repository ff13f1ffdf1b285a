#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <tuple>

#include "model/Result.h"
#include "support/ScratchFixture.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

using vxl_test::onlyError;
using vxl_test::TempDir;

class FileUtilTest : public vxl_test::ScratchFixture {
protected:
    static mode_t modeOf(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
    Result result;
};

TEST_F(FileUtilTest, CreateDirectoryAppliesModeOnlyWhenNew) {
    const std::string dir = work.file("new dir"), orphan = work.file("missing/child");
    EXPECT_TRUE(FixupUtil::createDirectory(&dir, "0751", &result));
    EXPECT_EQ(modeOf(dir), 0751u);
    EXPECT_TRUE(result.isSuccessFul());
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    result.setStatus(FAILED);
    EXPECT_TRUE(FixupUtil::createDirectory(&dir, "0755", &result));
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_TRUE(result.isFailed()) << "merged, not overwritten";
    EXPECT_FALSE(FixupUtil::createDirectory(&orphan, "0755", &result));
    EXPECT_EQ(onlyError(result), "Vxlg|9077|" + orphan + "|node1|" + std::strerror(ENOENT));
}

TEST_F(FileUtilTest, ChangePermissionsQuotesHostileNamesAndModes) {
    const std::string file = work.file("a b'c $(touch pwned);`touch pwned2`");
    TempDir::write(file, "x");
    result.setStatus(FAILED);
    EXPECT_TRUE(FixupUtil::changeFilePermissions(&file, "0640", &result));
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_TRUE(result.isSuccessFul()) << "overwritten";
    EXPECT_TRUE(FixupUtil::changeFilePermissions(&file, "u+x,g-r", &result));
    EXPECT_EQ(modeOf(file), 0700u);
    EXPECT_FALSE(FixupUtil::changeFilePermissions(&file, "bogus; touch pwned", &result));
    EXPECT_TRUE(result.hasNativeErrors());
    for (const char* p : {"pwned", "pwned2"}) EXPECT_FALSE(TempDir::exists(p)) << p;
}

TEST_F(FileUtilTest, ChangePermissionsRefusesBadArgumentsWithoutRunningAnything) {
    const std::string file = work.file("f"), empty, missing = work.file("missing");
    TempDir::write(file, "x");
    const std::tuple<const std::string*, const char*, std::string> cases[] = {
        {nullptr, "0600", "Vxlg|4500|filePath"},
        {&empty, "0600", "Vxlg|4500|filePath"},
        {&file, "", "Vxlg|4500|filePath"},
        {&missing, "0600", "Vxlg|9021|" + missing + "|node1"}};
    for (const auto& [path, mode, error] : cases) {
        Result r;
        EXPECT_FALSE(FixupUtil::changeFilePermissions(path, mode, &r));
        EXPECT_EQ(onlyError(r).substr(0, error.size()), error);
    }
    EXPECT_EQ(traceText().find("Executing command"), std::string::npos);
}

TEST_F(FileUtilTest, ChangeOwnership) {
    const std::string file = work.file("owned file"), missing = work.file("missing");
    TempDir::write(file, "x");
    ASSERT_EQ(::geteuid(), 0u) << "chown to another owner needs root";
    EXPECT_TRUE(FixupUtil::changeFileOwnerShip(&file, "12345", "12346", &result));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 12346u);

    Result missingArgument, missingFile, unknownUser;
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&file, "", "g", &missingArgument));
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&missing, "root", "root", &missingFile));
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&file, "no such user", "root", &unknownUser));
    EXPECT_EQ(onlyError(missingArgument).substr(0, 9), "Vxlg|4500");
    EXPECT_EQ(onlyError(missingFile), "Vxlg|9021|" + missing + "|node1");
    EXPECT_TRUE(unknownUser.hasNativeErrors());
}

TEST_F(FileUtilTest, RenameAndDelete) {
    const std::string from = work.file("from"), to = work.file("to"), odd = work.file("odd;*");
    TempDir::write(from, "x");
    TempDir::write(odd, "x");
    EXPECT_TRUE(FixupUtil::renameFile(&from, &to, &result));
    EXPECT_FALSE(FixupUtil::renameFile(&from, &to, &result));
    EXPECT_EQ(onlyError(result),
              "Vxlg|9087|" + from + "|" + to + "|node1|" + std::strerror(ENOENT));
    FixupUtil::deleteFileIfExists(&odd);
    FixupUtil::deleteFileIfExists(&odd);  // missing: nothing happens
    FixupUtil::deleteFileIfExists(nullptr);
    EXPECT_FALSE(TempDir::exists(odd));
    EXPECT_TRUE(TempDir::exists(to));
}

TEST_F(FileUtilTest, CopyFileReplacesTargetLineByLine) {
    const std::string source = work.file("src"), target = work.file("dst");
    const std::string victim = work.file("victim");
    TempDir::write(source, "one\n\nthree");
    TempDir::write(target, "old content that is longer");
    EXPECT_TRUE(FixupUtil::copyFile(&source, &target, &result));
    EXPECT_EQ(TempDir::read(target), "one\n\nthree\n");
    // A link at the target is replaced, never written through.
    TempDir::write(victim, "keep");
    ::unlink(target.c_str());
    ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);
    EXPECT_TRUE(FixupUtil::copyFile(&source, &target, &result));
    EXPECT_EQ(TempDir::read(victim), "keep");
    EXPECT_EQ(TempDir::read(target), "one\n\nthree\n");
}

TEST_F(FileUtilTest, CopyFileFailures) {
    const std::string source = work.file("src"), missing = work.file("missing");
    const std::string dir = work.path(), badTarget = work.file("no/dir/dst");
    TempDir::write(source, "x\n");
    const std::tuple<const std::string*, const std::string*, const char*> cases[] = {
        {&missing, &source, "Vxlg|9080"},
        {&source, &badTarget, "Vxlg|9082"},
        {&dir, &badTarget, "Vxlg|9080"},
        {nullptr, nullptr, "Vxlg|9080"}};
    for (const auto& [from, to, error] : cases) {
        Result r;
        EXPECT_FALSE(FixupUtil::copyFile(from, to, &r));
        EXPECT_TRUE(r.isFailed());
        EXPECT_EQ(onlyError(r).substr(0, 9), error);
    }
    EXPECT_EQ(TempDir::read(source), "x\n");
}

}  // namespace
}  // namespace vxl_fixup
