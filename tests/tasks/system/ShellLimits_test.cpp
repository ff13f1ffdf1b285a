// The limits-line editor on temporary limits files (hostile values are the
// injection matrix's).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "support/ScratchFixture.h"
#include "support/TempDir.h"
#include "tasks/system/sTaskSystemSettings.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

class ShellLimitTest : public vxl_test::ScratchFixture {
protected:
    void TearDown() override {
        task.reset();
        vxl_test::ScratchFixture::TearDown();
    }
    std::unique_ptr<Result> edit(const char* user, const char* type, const char* item,
                                 const char* value, const std::string& path) {
        const std::string u = user ? user : "", t = type ? type : "", i = item ? item : "",
                          v = value ? value : "";
        return std::unique_ptr<Result>(task->fixShellLimit(user ? &u : nullptr, type ? &t : nullptr,
                                                           item ? &i : nullptr,
                                                           value ? &v : nullptr, &path));
    }
    static FixupData* instance() {
        const std::string id = "TASKSHELLLIMITS";
        FixupData* data = new FixupData(&id);
        RunObjects::adopt(data);
        return data;
    }
    std::unique_ptr<sTaskSystemSettings> task{new sTaskSystemSettings(instance())};
    std::string path = work.file("limits.conf");
};

TEST_F(ShellLimitTest, RewritesTheValueFieldOrAppendsAnEntry) {
    const std::string added =
        "#Kelvane recommended value for nofile is set to 65536 for user "
        "appuser\nappuser  soft  nofile  65536\n";
    struct Case {
        const char* before;
        const char* type;
        const char* item;
        const char* value;
        std::string after;
        const char* user = "appuser";
    } cases[] = {
        {"appuser soft nofile 1024\n", "soft", "nofile", "65536", "appuser soft nofile 65536\n"},
        {"appuser soft nofile 131072\n", "soft", "nofile", "65536", "appuser soft nofile 65536\n"},
        {"appuser hard nproc unlimited\n", "hard", "nproc", "16384",
         "appuser hard nproc unlimited\n"},
        {"appuser hard nproc Unlimited\n", "hard", "nproc", "16384",
         "appuser hard nproc Unlimited\n"},
        {"appuser hard stack unlimited\n", "hard", "stack", "32768", "appuser hard stack 32768\n"},
        {"appuser soft nofile\n", "soft", "nofile", "65536", "appuser soft nofile  65536\n"},
        {"appuser soft nofile 1024 # raised later\n", "soft", "nofile", "65536",
         "appuser soft nofile 65536 # raised later\n"},
        // Every matching line; other users, types and items stay.
        {"appuser soft nofile 1\nappuser hard nofile 1\nother soft nofile 1\n"
         "  appuser\tsoft nofile 2\n",
         "soft", "nofile", "65536",
         "appuser soft nofile 65536\nappuser hard nofile 1\nother soft nofile 1\n"
         "  appuser\tsoft nofile 65536\n"},
        // The value field, not the first place its text occurs; blanks and
        // tabs between the fields stay as they were.
        {"appuser1\tsoft   nofile\t1\nappuser soft nofile 1\n", "soft", "nofile", "65536",
         "appuser1\tsoft   nofile\t65536\nappuser soft nofile 1\n", "appuser1"},
        // An equal value writes nothing, not even a missing final newline.
        {"appuser soft nofile 65536", "soft", "nofile", "65536", "appuser soft nofile 65536"},
        // No matching line (a commented one does not count): comment and
        // entry on lines of their own, also after a last line without newline.
        {"#appuser soft nofile 1024\n", "soft", "nofile", "65536",
         "#appuser soft nofile 1024\n" + added},
        {"", "soft", "nofile", "65536", added},
        {"appuser soft nproc 2047", "soft", "nofile", "65536", "appuser soft nproc 2047\n" + added},
        {"appuser hard memlock 1\n", "hard", "memlock", "unlimited",
         "appuser hard memlock unlimited\n"},
    };
    for (const Case& c : cases) {
        TempDir::write(path, c.before);
        std::unique_ptr<Result> r = edit(c.user, c.type, c.item, c.value, path);
        EXPECT_TRUE(r->isSuccessFul()) << c.before << vxl_test::onlyError(*r);
        EXPECT_EQ(TempDir::read(path), c.after) << c.before;
    }
}

TEST_F(ShellLimitTest, BadInputWritesNothing) {
    const std::string before = "appuser soft nofile 1024\n";
    const std::string longName(100000, 'u'), longValue(5000, '9');
    const char* const bad[][2] = {{nullptr, "1"},
                                  {"appuser", nullptr},
                                  {"appuser", "lots"},
                                  {"appuser", "-1"},
                                  {"#appuser", "1"},
                                  {"-appuser", "1"},
                                  {"--help", "1"},
                                  {"@", "1"},
                                  {"@-grp", "1"},
                                  {"app$user", "1"},
                                  {"../../etc/shadow", "1"},
                                  {"app;user", "1"},
                                  {"\xff\xfe", "1"},
                                  {longName.c_str(), "1"},
                                  {"appuser", longValue.c_str()},
                                  {"appuser", "1.5"}};
    for (const auto& b : bad) {
        TempDir::write(path, before);
        std::unique_ptr<Result> r = edit(b[0], "soft", "nofile", b[1], path);
        EXPECT_EQ(vxl_test::onlyError(*r), "Vxlg|9031")
            << (b[0] ? b[0] : "-") << " " << (b[1] ? b[1] : "-");
        EXPECT_TRUE(r->isFailed());
        EXPECT_EQ(TempDir::read(path), before);
    }
}

}  // namespace
}  // namespace vxl_fixup
