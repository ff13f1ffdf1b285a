#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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

TEST_F(FileUtilTest, ExistenceChecks) {
    const std::string file = work.file("f"), dir = work.path(), missing = work.file("m");
    TempDir::write(file, "x");
    EXPECT_TRUE(FixupUtil::checkFileExistence(&file));
    EXPECT_TRUE(FixupUtil::checkFileExistence(&dir));  // a directory can be opened
    EXPECT_FALSE(FixupUtil::checkFileExistence(&missing));
    EXPECT_FALSE(FixupUtil::checkFileExistence(nullptr));
    EXPECT_TRUE(FixupUtil::checkDirectoryExistence(&dir));
    EXPECT_FALSE(FixupUtil::checkDirectoryExistence(&file));
    EXPECT_FALSE(FixupUtil::checkDirectoryExistence(nullptr));
}

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

    Result other;
    EXPECT_FALSE(FixupUtil::createDirectory(&orphan, "0755", &other));
    EXPECT_TRUE(other.isFailed());
    EXPECT_EQ(onlyError(other), "Vxlg|9077|" + orphan + "|node1|" + std::strerror(ENOENT));
}

TEST_F(FileUtilTest, ChangePermissionsRejectsMissingArguments) {
    const std::string file = work.file("f"), empty, missing = work.file("missing");
    TempDir::write(file, "x");
    const std::pair<const std::string*, std::string> cases[] = {
        {nullptr, "0600"}, {&empty, "0600"}, {&file, ""}};
    for (const auto& c : cases) {
        Result r;
        EXPECT_FALSE(FixupUtil::changeFilePermissions(c.first, c.second, &r));
        EXPECT_TRUE(r.isFailed());
        EXPECT_EQ(onlyError(r).rfind("Vxlg|4500|filePath", 0), 0u) << onlyError(r);
    }
    EXPECT_EQ(traceText().find("Executing command"), std::string::npos);
    EXPECT_FALSE(FixupUtil::changeFilePermissions(&missing, "0600", &result));
    EXPECT_EQ(onlyError(result), "Vxlg|9021|" + missing + "|node1");
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
    EXPECT_TRUE(result.isFailed());
    EXPECT_TRUE(result.hasNativeErrors());
    for (const char* p : {"pwned", "pwned2"}) EXPECT_FALSE(TempDir::exists(p)) << p;
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
    EXPECT_EQ(*missingArgument.getErrorList()[0]->messageNumber, "4500");
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&missing, "root", "root", &missingFile));
    EXPECT_EQ(*missingFile.getErrorList()[0]->messageNumber, "9021");
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&file, "no such user", "root", &unknownUser));
    EXPECT_TRUE(unknownUser.hasNativeErrors());
}

TEST_F(FileUtilTest, RenameAndDelete) {
    const std::string from = work.file("from"), to = work.file("to"), odd = work.file("odd;*");
    TempDir::write(from, "x");
    EXPECT_TRUE(FixupUtil::renameFile(&from, &to, &result));
    EXPECT_TRUE(TempDir::exists(to));
    EXPECT_FALSE(FixupUtil::renameFile(&from, &to, &result));
    EXPECT_EQ(onlyError(result),
              "Vxlg|9087|" + from + "|" + to + "|node1|" + std::strerror(ENOENT));
    EXPECT_TRUE(result.isFailed());

    TempDir::write(odd, "x");
    FixupUtil::deleteFileIfExists(&odd);
    FixupUtil::deleteFileIfExists(&odd);  // missing: nothing happens
    FixupUtil::deleteFileIfExists(nullptr);
    EXPECT_FALSE(TempDir::exists(odd));
    EXPECT_TRUE(TempDir::exists(to));
}

TEST_F(FileUtilTest, ListsEntriesIncludingDots) {
    TempDir dir;
    TempDir::write(dir.file("b c"), "");
    std::vector<std::string> names;
    for (const std::string* n : FixupUtil::listFilesUnderDirectory(&dir.path())) {
        names.push_back(*n);
        delete n;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "b c"}));
    const std::string missing = work.file("missing");
    EXPECT_TRUE(FixupUtil::listFilesUnderDirectory(&missing).empty());
    EXPECT_TRUE(FixupUtil::listFilesUnderDirectory(nullptr).empty());
}

TEST_F(FileUtilTest, CopyFileReplacesTargetLineByLine) {
    const std::string source = work.file("src"), target = work.file("dst");
    const std::string victim = work.file("victim");
    TempDir::write(source, "one\n\nthree");
    TempDir::write(target, "old content that is longer");
    EXPECT_TRUE(FixupUtil::copyFile(&source, &target, &result));
    EXPECT_EQ(TempDir::read(target), "one\n\nthree\n");
    EXPECT_TRUE(result.isSuccessFul());

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
    const struct {
        const std::string* from;
        const std::string* to;
        const char* number;
    } cases[] = {{&missing, &source, "9080"},
                 {&source, &badTarget, "9082"},
                 {&dir, &badTarget, "9080"},
                 {nullptr, nullptr, "9080"}};
    for (const auto& c : cases) {
        Result r;
        EXPECT_FALSE(FixupUtil::copyFile(c.from, c.to, &r)) << c.number;
        EXPECT_TRUE(r.isFailed());
        ASSERT_EQ(r.getErrorList().size(), 1u);
        EXPECT_EQ(*r.getErrorList()[0]->messageNumber, c.number);
    }
    EXPECT_EQ(TempDir::read(source), "x\n");
}

}  // namespace
}  // namespace vxl_fixup
