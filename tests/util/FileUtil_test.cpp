#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "model/NLSError.h"
#include "model/Result.h"
#include "support/ScratchFixture.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

class FileUtilTest : public vxl_test::ScratchFixture {
protected:
    static mode_t modeOf(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
    // The only error of the result: facility, number and arguments joined by "|".
    std::string onlyError() const {
        if (result.getErrorList().size() != 1)
            return "<" + std::to_string(result.getErrorList().size()) + " errors>";
        const NLSError* e = result.getErrorList()[0];
        std::string text = *e->facility + "|" + *e->messageNumber;
        for (const std::string* a : e->arguments) text += "|" + *a;
        return text + (e->displayFacility ? "" : "|nodisplay");
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
    const std::string trace = traceText();
    EXPECT_NE(trace.find("FixupUtil::checkFileExistence - Checking existence of file " + file +
                         "\nsFixupUtil::checkFileExistence - Checking existence of file " + file +
                         "\nsFixupUtil::checkFileExistence - " + file + " exists\n"),
              std::string::npos);
    EXPECT_NE(trace.find("sFixupUtil::checkFileExistence - " + missing + " not found\n"),
              std::string::npos);
}

TEST_F(FileUtilTest, CreateDirectoryAppliesModeOnlyWhenNew) {
    const std::string dir = work.file("new dir");
    EXPECT_TRUE(FixupUtil::createDirectory(&dir, "0751", &result));
    EXPECT_EQ(modeOf(dir), 0751u);
    EXPECT_TRUE(result.isSuccessFul());
    EXPECT_NE(traceText().find("Creating directory " + dir), std::string::npos);

    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    result.setStatus(FAILED);
    EXPECT_TRUE(FixupUtil::createDirectory(&dir, "0755", &result));
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_TRUE(result.isFailed()) << "merged, not overwritten";

    Result other;
    const std::string orphan = work.file("missing/child");
    EXPECT_FALSE(FixupUtil::createDirectory(&orphan, "0755", &other));
    EXPECT_TRUE(other.isFailed());
    ASSERT_EQ(other.getErrorList().size(), 1u);
    EXPECT_EQ(*other.getErrorList()[0]->messageNumber, "9077");
    EXPECT_EQ(*other.getErrorList()[0]->arguments[2], std::strerror(ENOENT));
}

TEST_F(FileUtilTest, ChangePermissionsRejectsMissingArguments) {
    const std::string file = work.file("f"), empty;
    TempDir::write(file, "x");
    struct Case {
        const std::string* path;
        std::string mode;
    } cases[] = {{nullptr, "0600"}, {&empty, "0600"}, {&file, ""}};
    for (const Case& c : cases) {
        Result r;
        EXPECT_FALSE(FixupUtil::changeFilePermissions(c.path, c.mode, &r));
        EXPECT_TRUE(r.isFailed());
        ASSERT_EQ(r.getErrorList().size(), 1u);
        EXPECT_EQ(*r.getErrorList()[0]->messageNumber, "4500");
        EXPECT_EQ(*r.getErrorList()[0]->arguments[0], "filePath");
    }
    EXPECT_EQ(traceText().find("Executing command"), std::string::npos);

    const std::string missing = work.file("missing");
    EXPECT_FALSE(FixupUtil::changeFilePermissions(&missing, "0600", &result));
    EXPECT_EQ(onlyError(), "Vxlg|9021|" + missing + "|node1");
}

TEST_F(FileUtilTest, ChangePermissionsQuotesAndOverwritesStatus) {
    const std::string file = work.file("a b'c $(touch pwned);`touch pwned2`");
    TempDir::write(file, "x");
    result.setStatus(FAILED);
    EXPECT_TRUE(FixupUtil::changeFilePermissions(&file, "0640", &result));
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_TRUE(result.isSuccessFul());
    EXPECT_TRUE(FixupUtil::changeFilePermissions(&file, "u+x,g-r", &result));
    EXPECT_EQ(modeOf(file), 0700u);
    EXPECT_FALSE(TempDir::exists("pwned"));
    EXPECT_FALSE(TempDir::exists(work.file("pwned")));

    const std::string plain = work.file("plain");
    TempDir::write(plain, "x");
    FixupUtil::changeFilePermissions(&plain, "0600", &result);
    EXPECT_NE(traceText().find("Executing command chmod 0600 " + plain + " >"), std::string::npos);

    EXPECT_FALSE(FixupUtil::changeFilePermissions(&plain, "bogus; touch pwned", &result));
    EXPECT_TRUE(result.isFailed());
    EXPECT_TRUE(result.hasNativeErrors());
    EXPECT_FALSE(TempDir::exists("pwned"));
}

TEST_F(FileUtilTest, ChangeOwnership) {
    const std::string file = work.file("owned file");
    TempDir::write(file, "x");
    ASSERT_EQ(::geteuid(), 0u) << "chown to another owner needs root";
    EXPECT_TRUE(FixupUtil::changeFileOwnerShip(&file, "12345", "12346", &result));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 12346u);
    EXPECT_NE(traceText().find("Changing ownership of existing file " + file + " to 12345:12346"),
              std::string::npos);

    Result missingArgument, missingFile, unknownUser;
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&file, "", "g", &missingArgument));
    EXPECT_EQ(*missingArgument.getErrorList()[0]->messageNumber, "4500");
    const std::string missing = work.file("missing");
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&missing, "root", "root", &missingFile));
    EXPECT_EQ(*missingFile.getErrorList()[0]->messageNumber, "9021");
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&file, "no such user", "root", &unknownUser));
    EXPECT_TRUE(unknownUser.isFailed());
    EXPECT_TRUE(unknownUser.hasNativeErrors());
}

TEST_F(FileUtilTest, RenameAndDelete) {
    const std::string from = work.file("from"), to = work.file("to"), gone = work.file("gone");
    TempDir::write(from, "x");
    EXPECT_TRUE(FixupUtil::renameFile(&from, &to, &result));
    EXPECT_TRUE(TempDir::exists(to));
    EXPECT_FALSE(FixupUtil::renameFile(&gone, &to, &result));
    EXPECT_EQ(onlyError(), "Vxlg|9087|" + gone + "|" + to + "|node1|" + std::strerror(ENOENT));
    EXPECT_TRUE(result.isFailed());

    const std::string odd = work.file("odd name;*");
    TempDir::write(odd, "x");
    FixupUtil::deleteFileIfExists(&odd);
    FixupUtil::deleteFileIfExists(&odd);  // missing: nothing happens
    FixupUtil::deleteFileIfExists(nullptr);
    EXPECT_FALSE(TempDir::exists(odd));
    EXPECT_TRUE(TempDir::exists(to));
    EXPECT_NE(traceText().find("sFixupUtil::deleteFileIfExists - Deleting file " + odd),
              std::string::npos);
}

TEST_F(FileUtilTest, ListsEntriesIncludingDots) {
    const std::string dir = work.file("list");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    TempDir::write(dir + "/a", "");
    TempDir::write(dir + "/b c", "");
    std::vector<std::string> names;
    for (const std::string* n : FixupUtil::listFilesUnderDirectory(&dir)) {
        names.push_back(*n);
        delete n;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a", "b c"}));
    const std::string missing = work.file("missing");
    EXPECT_TRUE(FixupUtil::listFilesUnderDirectory(&missing).empty());
    EXPECT_TRUE(FixupUtil::listFilesUnderDirectory(nullptr).empty());
}

TEST_F(FileUtilTest, CopyFileLineByLine) {
    const std::string source = work.file("src"), target = work.file("dst");
    TempDir::write(source, "one\n\nthree");
    TempDir::write(target, "old content that is longer");
    EXPECT_TRUE(FixupUtil::copyFile(&source, &target, &result));
    EXPECT_EQ(TempDir::read(target), "one\n\nthree\n");
    EXPECT_TRUE(result.isSuccessFul());

    // A link at the target is replaced, never written through.
    const std::string victim = work.file("victim");
    TempDir::write(victim, "keep");
    ::unlink(target.c_str());
    ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);
    EXPECT_TRUE(FixupUtil::copyFile(&source, &target, &result));
    EXPECT_EQ(TempDir::read(victim), "keep");
    struct stat st {};
    ASSERT_EQ(::lstat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(FileUtilTest, CopyFileFailures) {
    const std::string source = work.file("src"), missing = work.file("missing");
    const std::string badTarget = work.file("no/dir/dst");
    TempDir::write(source, "x\n");
    EXPECT_FALSE(FixupUtil::copyFile(&missing, &source, &result));
    EXPECT_EQ(onlyError(), "Vxlg|9080|" + missing + "|node1|" + std::strerror(ENOENT));
    EXPECT_EQ(TempDir::read(source), "x\n");

    Result second;
    EXPECT_FALSE(FixupUtil::copyFile(&source, &badTarget, &second));
    ASSERT_EQ(second.getErrorList().size(), 1u);
    EXPECT_EQ(*second.getErrorList()[0]->messageNumber, "9082");
    EXPECT_TRUE(second.isFailed());

    Result third;
    const std::string dir = work.path();
    EXPECT_FALSE(FixupUtil::copyFile(&dir, &badTarget, &third));
    EXPECT_EQ(*third.getErrorList()[0]->messageNumber, "9080");
    EXPECT_FALSE(FixupUtil::copyFile(nullptr, nullptr, &third));
    const std::string trace = traceText();
    EXPECT_NE(trace.find("Failed to open the source file " + missing), std::string::npos);
    EXPECT_NE(trace.find("Failed to create the target file at location " + badTarget),
              std::string::npos);
}

}  // namespace
}  // namespace vxl_fixup
