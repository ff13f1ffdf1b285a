#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "model/Result.h"
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

// Nothing is written for a bad path, a missing key or value (9030), or a key
// or value that would add a line (9031).
TEST_F(ConfigFileUpdateTest, BadInputWritesNothing) {
    const std::string missing = work.file("missing"), dir = work.path(), k = "k", v = "v";
    const std::string lf = "2\nevil=1", cr = "2\revil=1", nul("2\0evil", 6);
    const std::tuple<const std::string*, const std::string*, const std::string*, std::string>
        cases[] = {
            {&missing, &k, &v, "Vxlg|9030|" + missing + "|node1"},
            {&dir, &k, &v, "Vxlg|9030|" + dir + "|node1"},
            {nullptr, &k, &v, "Vxlg|9030||node1"},
            {&path, nullptr, &v, "Vxlg|9030|" + path + "|node1"},
            {&path, &k, nullptr, "Vxlg|9030|" + path + "|node1"},
            {&path, &k, &lf, "Vxlg|9031"},
            {&path, &k, &cr, "Vxlg|9031"},
            {&path, &k, &nul, "Vxlg|9031"},
            {&path, &lf, &v, "Vxlg|9031"},
            {&path, &cr, &v, "Vxlg|9031"},
            {&path, &nul, &v, "Vxlg|9031"},
        };
    TempDir::write(path, "k=1\n");
    for (const auto& [file, key, value, error] : cases) {
        std::unique_ptr<Result> r(
            FixupUtil::updateEntryInsideConfigFile(file, key, value, "=", true));
        EXPECT_TRUE(r->isFailed()) << error;
        EXPECT_EQ(onlyError(*r), error);
    }
    // The last defence: a line feed inside a line handed to the rewrite.
    Result direct;
    EXPECT_FALSE(FixupUtil::writeConfigFile("test", path, {"k=1", "k=2\nevil=1"}, &direct));
    EXPECT_EQ(onlyError(direct), "Vxlg|9031");
    EXPECT_EQ(TempDir::read(path), "k=1\n");
    EXPECT_FALSE(TempDir::exists(missing));
}

// The guards every family calls before it runs or writes anything: which
// values each one lets through; each refusal is Vxlg 9031 and FAILED.
TEST_F(ConfigFileUpdateTest, GuardsAcceptOnlyWhatFitsItsPlace) {
    enum Guard { LINE, WORD, PATH };
    const std::string longest(FixupUtil::kMaxValueBytes, '7');
    const struct Case {
        Guard guard;
        std::string value;
        bool accepted;
    } cases[] = {
        {LINE, "65536", true},
        {LINE, "-p/var/tmp/x", true},
        {LINE, longest, true},
        {LINE, longest + "7", false},
        {LINE, "1\n2", false},
        {WORD, "dbowner", true},
        {WORD, "", true},
        {WORD, "a-b", true},
        {WORD, "-p/var/tmp/evil", false},
        {WORD, "--help", false},
        {WORD, "-", false},
        {WORD, "x\r", false},
        {WORD, longest + "7", false},
        {PATH, "/etc/sysctl.conf", true},
        {PATH, "../../etc/shadow", false},
        {PATH, "etc/sysctl.conf", false},
        {PATH, "", false},
        {PATH, "-o", false},
        {PATH, "/etc/x\n/etc/y", false},
        {PATH, "/" + longest, false},
    };
    for (const Case& c : cases) {
        Result result;
        const bool accepted =
            c.guard == LINE   ? FixupUtil::acceptSingleLineValue("test", &c.value, &result)
            : c.guard == WORD ? FixupUtil::acceptArgumentWords("test", {&c.value}, &result)
                              : FixupUtil::acceptAbsolutePath("test", &c.value, &result);
        const std::string what = std::to_string(c.guard) + " " + c.value.substr(0, 20);
        EXPECT_EQ(accepted, c.accepted) << what;
        EXPECT_EQ(result.isFailed(), !c.accepted) << what;
        EXPECT_EQ(onlyError(result), c.accepted ? "<0 errors>" : "Vxlg|9031") << what;
    }
    // A null value is a missing one, which its caller reports; a list is
    // refused at its first bad word.
    Result result;
    const std::string good = "dbowner", bad = "-o";
    EXPECT_TRUE(FixupUtil::acceptArgumentWords("test", {nullptr, &good}, &result));
    EXPECT_TRUE(FixupUtil::acceptAbsolutePath("test", nullptr, &result));
    EXPECT_FALSE(FixupUtil::acceptArgumentWords("test", {&good, nullptr, &bad}, &result));
    EXPECT_EQ(onlyError(result), "Vxlg|9031");
}

}  // namespace
}  // namespace vxl_fixup
