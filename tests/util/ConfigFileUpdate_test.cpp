#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "model/NLSError.h"
#include "model/Result.h"
#include "support/ChildProcess.h"
#include "support/ScratchFixture.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

class ConfigFileUpdateTest : public vxl_test::ScratchFixture {
protected:
    std::unique_ptr<Result> update(const std::string& key, const std::string& value,
                                   const std::string& delimiter, bool add) {
        return std::unique_ptr<Result>(
            FixupUtil::updateEntryInsideConfigFile(&path, &key, &value, delimiter, add));
    }
    static void expect9030(const Result& r, const std::string& p) {
        EXPECT_TRUE(r.isFailed());
        ASSERT_EQ(r.getErrorList().size(), 1u);
        const NLSError* e = r.getErrorList()[0];
        EXPECT_EQ(*e->facility, "Vxlg");
        EXPECT_EQ(*e->messageNumber, "9030");
        ASSERT_EQ(e->arguments.size(), 2u);
        EXPECT_EQ(*e->arguments[0], p);
        EXPECT_EQ(*e->arguments[1], "node1");
        EXPECT_TRUE(e->displayFacility);
    }
    std::string path = work.file("settings.conf");
};

TEST_F(ConfigFileUpdateTest, EditsTable) {
    struct Case {
        const char* before;
        const char* key;
        const char* value;
        const char* delimiter;
        bool add;
        const char* after;
    } cases[] = {
        {"kernel.x=5", "kernel.x", "5", "=", false, "kernel.x=5\n"},
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
        const auto r = update(c.key, c.value, c.delimiter, c.add);
        EXPECT_TRUE(r->isSuccessFul()) << c.before;
        EXPECT_FALSE(r->hasErrors()) << c.before;
        EXPECT_EQ(TempDir::read(path), c.after) << c.before << " key " << c.key;
    }
}

TEST_F(ConfigFileUpdateTest, TracesDecisions) {
    TempDir::write(path, "k=1\nk=2\n");
    update("k", "2", "=", false);
    const std::string trace = traceText();
    const std::string src = "FixupUtil::updateEntryInsideConfigFile - ";
    EXPECT_NE(trace.find(src + "ENTRY\n"), std::string::npos);
    const std::string expected[] = {
        "Checking line starting with pattern 'k' at line=k=1",
        "Found exact matching line at number: 0",
        "Value in config file is (1)",
        "Updating matching record at line (0): k=1",
        "After Updating 'k' value in " + path + " at line became: k=2",
    };
    size_t at = 0;
    for (const std::string& line : expected) {  // in this order
        at = trace.find(src + line + "\n", at);
        EXPECT_NE(at, std::string::npos) << line;
    }
    EXPECT_NE(trace.find(src + "No update required, Current value '2' is already same as the "
                               "expected value 2\n"),
              std::string::npos);
    EXPECT_NE(trace.find(src + "EXIT\n"), std::string::npos);
}

TEST_F(ConfigFileUpdateTest, UnchangedFileIsNotWritten) {
    TempDir::write(path, "k=1\n");
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ::usleep(20000);
    const auto r = update("k", "1", "=", true);
    EXPECT_TRUE(r->isSuccessFul());
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(ConfigFileUpdateTest, BadInputGives9030) {
    const std::string missing = work.file("missing"), dir = work.path(), key = "k", value = "v";
    struct Case {
        const std::string* path;
        const std::string* key;
        const std::string* value;
        std::string reported;
    } cases[] = {
        {&missing, &key, &value, missing}, {&dir, &key, &value, dir},
        {nullptr, &key, &value, ""},       {&path, nullptr, &value, path},
        {&path, &key, nullptr, path},
    };
    TempDir::write(path, "k=1\n");
    for (const Case& c : cases) {
        std::unique_ptr<Result> r(
            FixupUtil::updateEntryInsideConfigFile(c.path, c.key, c.value, "=", true));
        expect9030(*r, c.reported);
    }
    EXPECT_EQ(TempDir::read(path), "k=1\n");
    EXPECT_FALSE(TempDir::exists(missing));
    EXPECT_NE(traceText().find("Could not open file, Failed to read the param value from file " +
                               missing),
              std::string::npos);
}

struct ForcedFailure {
    std::string path;
};

// In the child: the rewrite must fail, report 9030 and leave the file alone.
int updateUnderLimit(void* argument) {
    const std::string& path = static_cast<ForcedFailure*>(argument)->path;
    const std::string key = "big", value(4096, 'v');
    std::unique_ptr<Result> r(
        FixupUtil::updateEntryInsideConfigFile(&path, &key, &value, "=", true));
    if (!r->isFailed()) return 1;
    if (r->getErrorList().size() != 1 || *r->getErrorList()[0]->messageNumber != "9030") return 2;
    return 0;
}

TEST_F(ConfigFileUpdateTest, FailedRewriteLeavesOriginalAndNoTemporary) {
    const std::string original = "# settings\nsmall=1\n";
    TempDir::write(path, original);
    ForcedFailure failure{path};
    EXPECT_EQ(vxl_test::runWithFileSizeLimit(1024, updateUnderLimit, &failure), 0);
    EXPECT_EQ(TempDir::read(path), original);
    std::vector<std::string> names;
    const std::string dir = work.path();
    for (const std::string* n : FixupUtil::listFilesUnderDirectory(&dir)) {
        names.push_back(*n);
        delete n;
    }
    for (const std::string& n : names) {
        EXPECT_TRUE(n == "." || n == ".." || n == "settings.conf" || n == ".fix_scratch" ||
                    n.rfind("vexel_fixup_trace", 0) == 0)
            << "left behind: " << n;
    }
}

}  // namespace
}  // namespace vxl_fixup
