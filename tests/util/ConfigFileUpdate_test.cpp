#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <tuple>

#include "model/Result.h"
#include "support/ChildProcess.h"
#include "support/ScratchFixture.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

using vxl_test::onlyError;
using vxl_test::TempDir;

class ConfigFileUpdateTest : public vxl_test::ScratchFixture {
protected:
    std::string path = work.file("settings.conf");
};

TEST_F(ConfigFileUpdateTest, EditsTable) {
    const struct Case {
        const char* before;
        const char* key;
        const char* value;
        const char* delimiter;
        bool add;
        const char* after;
    } cases[] = {
        {"kernel.x=5", "kernel.x", "5", "=", false, "kernel.x=5\n"},
        {"kernel.x=5\n", "kernel.x", "5", "=", true, "kernel.x=5\n"},
        {"kernel.x = 5\n", "kernel.x", "5", "=", false, "kernel.x=5\n"},
        {"kernel.x=5 # note\n", "kernel.x", "7", "=", false, "kernel.x=7\n"},
        {"a=1\nkernel.x=1\n\n# c\n  kernel.x=2\n", "kernel.x", "3", "=", false,
         "a=1\nkernel.x=3\n\n# c\nkernel.x=3\n"},
        {"#kernel.x=5\n", "kernel.x", "7", "=", true,
         "#kernel.x=5\n# Recommended value for kernel.x\nkernel.x=7\n"},
        {"#kernel.x=5\n", "kernel.x", "7", "=", false, "#kernel.x=5\n"},
        {"  kernel.x=5\n", "kernel.x", "#", "#", false, "#kernel.x=5\n"},
        {"KEY value\nKEY=v\n", "KEY", "#", "#", false, "#KEY value\n#KEY=v\n"},
        {"kernel.x\n", "kernel.x", "0", "=", false, "kernel.x\n"},
        {"kernel.x\n", "kernel.x", "1", "=", false, "kernel.x=1\n"},
        // Whole-key matching: a longer key that starts with this one is left alone.
        {"kernel.panic_on_oops=1\n", "kernel.panic", "5", "=", true,
         "kernel.panic_on_oops=1\n# Recommended value for kernel.panic\nkernel.panic=5\n"},
        {"kernel.panic_on_oops=1\nkernel.panic=0\n", "kernel.panic", "#", "#", false,
         "kernel.panic_on_oops=1\n#kernel.panic=0\n"},
        {"", " k ", " v ", "=", true, "# Recommended value for  k \nk=v\n"},
        {"RemoveIPC no\n", "RemoveIPC", "yes", " ", false, "RemoveIPC yes\n"},
    };
    for (const Case& c : cases) {
        TempDir::write(path, c.before);
        const std::string key = c.key, value = c.value;
        std::unique_ptr<Result> r(
            FixupUtil::updateEntryInsideConfigFile(&path, &key, &value, c.delimiter, c.add));
        EXPECT_TRUE(r->isSuccessFul()) << c.before;
        EXPECT_FALSE(r->hasErrors()) << c.before;
        EXPECT_EQ(TempDir::read(path), c.after) << c.before << " key " << c.key;
    }
}

TEST_F(ConfigFileUpdateTest, BadInputGives9030) {
    const std::string missing = work.file("missing"), dir = work.path(), key = "k", value = "v";
    const std::tuple<const std::string*, const std::string*, const std::string*, std::string>
        cases[] = {
            // path, key, value, the path the error reports
            {&missing, &key, &value, missing}, {&dir, &key, &value, dir},
            {nullptr, &key, &value, ""},       {&path, nullptr, &value, path},
            {&path, &key, nullptr, path},
        };
    TempDir::write(path, "k=1\n");
    for (const auto& [file, k, v, reported] : cases) {
        std::unique_ptr<Result> r(FixupUtil::updateEntryInsideConfigFile(file, k, v, "=", true));
        EXPECT_TRUE(r->isFailed());
        EXPECT_EQ(onlyError(*r), "Vxlg|9030|" + reported + "|node1");
    }
    EXPECT_EQ(TempDir::read(path), "k=1\n");
    EXPECT_FALSE(TempDir::exists(missing));
}

TEST_F(ConfigFileUpdateTest, AValueOrKeyWithALineBreakIsRefusedWith9031) {
    const std::string original = "k=1\n", k = "k";
    const std::string hostile[] = {"2\nevil=1", "2\revil=1", std::string("2\0evil", 6)};
    TempDir::write(path, original);
    for (const std::string& v : hostile) {
        std::unique_ptr<Result> byValue(FixupUtil::updateEntryInsideConfigFile(&path, &k, &v, "=", true));
        std::unique_ptr<Result> byKey(FixupUtil::updateEntryInsideConfigFile(&path, &v, &k, "=", true));
        for (const Result* r : {byValue.get(), byKey.get()}) {
            EXPECT_TRUE(r->isFailed());
            EXPECT_EQ(onlyError(*r), "Vxlg|9031");
        }
    }
    // The last defence: a line feed inside a line handed to the rewrite.
    Result direct;
    EXPECT_FALSE(FixupUtil::writeConfigFile("test", path, {"k=1", "k=2\nevil=1"}, &direct));
    EXPECT_EQ(onlyError(direct), "Vxlg|9031");
    EXPECT_EQ(TempDir::read(path), original);
}

// In the child: the rewrite of the file at *argument must fail and report 9030.
int updateUnderLimit(void* argument) {
    const std::string& path = *static_cast<const std::string*>(argument);
    const std::string key = "big", value(4096, 'v');
    std::unique_ptr<Result> r(
        FixupUtil::updateEntryInsideConfigFile(&path, &key, &value, "=", true));
    if (!r->isFailed()) return 1;
    return onlyError(*r) == "Vxlg|9030|" + path + "|node1" ? 0 : 2;
}

TEST_F(ConfigFileUpdateTest, FailedRewriteLeavesOriginalAndNoTemporary) {
    const std::string original = "# settings\nsmall=1\n";
    TempDir::write(path, original);
    EXPECT_EQ(vxl_test::runWithFileSizeLimit(1024, updateUnderLimit, &path), 0);
    EXPECT_EQ(TempDir::read(path), original);
    for (const std::string& n : TempDir::list(work.path())) {
        EXPECT_TRUE(n == "settings.conf" || n == ".fix_scratch" ||
                    n.rfind("vexel_fixup_trace", 0) == 0)
            << "left behind: " << n;
    }
}

}  // namespace
}  // namespace vxl_fixup
