#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
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
    static struct stat statOf(const std::string& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return st;
    }
    Result result;
};

TEST_F(FileUtilTest, CreateDirectoryAppliesModeOnlyWhenNew) {
    const std::string dir = work.file("new dir"), orphan = work.file("missing/child");
    EXPECT_TRUE(FixupUtil::createDirectory(&dir, "0751", &result));
    EXPECT_EQ(statOf(dir).st_mode & 07777, 0751u);
    EXPECT_TRUE(result.isSuccessFul());
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    result.setStatus(FAILED);
    EXPECT_TRUE(FixupUtil::createDirectory(&dir, "0755", &result));
    EXPECT_EQ(statOf(dir).st_mode & 07777, 0700u);
    EXPECT_TRUE(result.isFailed()) << "merged, not overwritten";
    EXPECT_FALSE(FixupUtil::createDirectory(&orphan, "0755", &result));
    EXPECT_EQ(onlyError(result), "Vxlg|9077|" + orphan + "|node1|" + std::strerror(ENOENT));
}

// chmod and chown get a hostile name and mode as single words; bad
// arguments are refused before anything runs.
TEST_F(FileUtilTest, PermissionsAndOwnershipTakeAnyNameAndRefuseBadArguments) {
    const std::string file = work.file("a b'c $(touch pwned);`touch pwned2`");
    TempDir::write(file, "x");
    result.setStatus(FAILED);
    EXPECT_TRUE(FixupUtil::changeFilePermissions(&file, "0640", &result));
    EXPECT_TRUE(result.isSuccessFul()) << "overwritten";
    EXPECT_TRUE(FixupUtil::changeFilePermissions(&file, "u+x,g-r", &result));
    EXPECT_EQ(statOf(file).st_mode & 07777, 0700u);
    EXPECT_TRUE(FixupUtil::changeFileOwnerShip(&file, "12345", "12346", &result));
    EXPECT_EQ(statOf(file).st_uid, 12345u);
    EXPECT_EQ(statOf(file).st_gid, 12346u);
    EXPECT_FALSE(FixupUtil::changeFilePermissions(&file, "bogus; touch pwned", &result));
    EXPECT_TRUE(result.hasNativeErrors());
    Result unknownUser;
    EXPECT_FALSE(FixupUtil::changeFileOwnerShip(&file, "no such user", "root", &unknownUser));
    EXPECT_TRUE(unknownUser.hasNativeErrors());
    for (const char* p : {"pwned", "pwned2"}) EXPECT_FALSE(TempDir::exists(p)) << p;

    const std::string empty, missing = work.file("missing");
    using Call = std::function<bool(Result*)>;
    const std::pair<Call, std::string> refused[] = {
        {[&](Result* r) { return FixupUtil::changeFilePermissions(nullptr, "0600", r); }, "4500"},
        {[&](Result* r) { return FixupUtil::changeFilePermissions(&empty, "0600", r); }, "4500"},
        {[&](Result* r) { return FixupUtil::changeFilePermissions(&file, "", r); }, "4500"},
        {[&](Result* r) { return FixupUtil::changeFilePermissions(&missing, "0600", r); }, "9021"},
        {[&](Result* r) { return FixupUtil::changeFileOwnerShip(&file, "", "g", r); }, "4500"},
        {[&](Result* r) { return FixupUtil::changeFileOwnerShip(&missing, "root", "root", r); },
         "9021"}};
    for (const auto& [call, number] : refused) {
        Result r;
        EXPECT_FALSE(call(&r));
        EXPECT_EQ(onlyError(r).substr(0, 9), "Vxlg|" + number);
        EXPECT_FALSE(r.hasNativeErrors()) << "nothing ran";
    }
}

TEST_F(FileUtilTest, RenameDeleteAndCopy) {
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

    // Copies line by line; a link at the target is replaced, never written through.
    const std::string source = work.file("src"), target = work.file("dst");
    TempDir::write(source, "one\n\nthree");
    TempDir::write(target, "old content that is longer");
    EXPECT_TRUE(FixupUtil::copyFile(&source, &target, &result));
    EXPECT_EQ(TempDir::read(target), "one\n\nthree\n");
    ::unlink(target.c_str());
    ASSERT_EQ(::symlink(to.c_str(), target.c_str()), 0);
    EXPECT_TRUE(FixupUtil::copyFile(&source, &target, &result));
    EXPECT_EQ(TempDir::read(to), "x");
    EXPECT_EQ(TempDir::read(target), "one\n\nthree\n");

    const std::string missing = work.file("missing"), dir = work.path();
    const std::string badTarget = work.file("no/dir/dst");
    const std::tuple<const std::string*, const std::string*, const char*> failures[] = {
        {&missing, &source, "Vxlg|9080"},
        {&source, &badTarget, "Vxlg|9082"},
        {&dir, &badTarget, "Vxlg|9080"},
        {nullptr, nullptr, "Vxlg|9080"}};
    for (const auto& [copyFrom, copyTo, error] : failures) {
        Result r;
        EXPECT_FALSE(FixupUtil::copyFile(copyFrom, copyTo, &r));
        EXPECT_TRUE(r.isFailed());
        EXPECT_EQ(onlyError(r).substr(0, 9), error);
    }
    EXPECT_EQ(TempDir::read(source), "one\n\nthree");
}

}  // namespace
}  // namespace vxl_fixup
