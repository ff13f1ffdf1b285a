// What the user and group family takes as an account name or id, and what it
// returns for identifiers outside the family. Nothing here runs a command.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "support/ScratchFixture.h"
#include "tasks/usergroup/sTaskUserGroupFixup.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {
namespace {

TEST(AccountInputTest, Names) {
    const struct {
        const char* name;
        bool ok;
    } cases[] = {
        {"dbuser", true},
        {"Db_User-2.x", true},
        {"_svc", true},
        {"host$", true},
        {"9lives", true},
        {"", false},
        {"501", false},
        {"$", false},
        {"-o", false},
        {".hidden", false},
        {"a b", false},
        {"a\tb", false},
        {"a'b", false},
        {"a\"b", false},
        {"a$b", false},
        {"$(id)", false},
        {"a;b", false},
        {"a\nb", false},
        {"a:b", false},
        {"a/b", false},
        {"a,b", false},
        {"a*", false},
        {"\xc3\xa9t\xc3\xa9", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sTaskUserGroupFixup::isAccountName(c.name), c.ok) << "[" << c.name << "]";
    }
    EXPECT_FALSE(sTaskUserGroupFixup::isAccountName(std::string("a\0b", 3)));
}

TEST(AccountInputTest, Ids) {
    const struct {
        const char* text;
        bool ok;
        long value;
    } cases[] = {
        {"0", true, 0},
        {"54321", true, 54321},
        {"4294967294", true, 4294967294L},
        {"", false, 0},
        {"-5", false, 0},
        {"+5", false, 0},
        {"00", false, 0},
        {"007", false, 0},
        {"12a", false, 0},
        {" 12", false, 0},
        {"12 ", false, 0},
        {"12;touch /tmp/x", false, 0},
        {"1e3", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        long value = -7;
        EXPECT_EQ(sTaskUserGroupFixup::parseAccountId(c.text, value), c.ok) << "[" << c.text << "]";
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

class UserGroupDispatchTest : public vxl_test::ScratchFixture {
protected:
    void TearDown() override {
        XmlParser::dispose();
        vxl_test::ScratchFixture::TearDown();
    }
};

TEST_F(UserGroupDispatchTest, IdentifiersOutsideTheFamilyGiveAnUnknownResult) {
    for (const std::string id : {"TASKKERNELPARAM", "TASKUSERMASK", "NOT_A_TASK"}) {
        FixupData* data = new FixupData(&id);
        RunObjects::adopt(data);
        sTaskUserGroupFixup task(data);
        std::unique_ptr<Result> result(task.fix(data));
        ASSERT_NE(result, nullptr) << id;
        EXPECT_TRUE(result->isUnknown()) << id;
        EXPECT_FALSE(result->hasErrors()) << id;
    }
    EXPECT_EQ(traceText().find("Executing command"), std::string::npos);
}

}  // namespace
}  // namespace vxl_fixup
