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

// Traces go to a private work directory (a refused id is traced).
class AccountInputTest : public vxl_test::ScratchFixture {
protected:
    void TearDown() override {
        XmlParser::dispose();
        vxl_test::ScratchFixture::TearDown();
    }
};

// Beyond the refusals the node tests show (blanks, quotes, $(...), leading
// "-", line breaks, signs, trailing text).
TEST_F(AccountInputTest, NamesAndIds) {
    for (const char* name : {"Db_User-2.x", "_svc", "host$", "9lives"}) {
        EXPECT_TRUE(sTaskUserGroupFixup::isAccountName(name)) << name;
    }
    for (const char* name :
         {"", "501", "$", ".hidden", "a$b", "a:b", "a,b", "a/b", "a*", "\xc3\xa9t\xc3\xa9"}) {
        EXPECT_FALSE(sTaskUserGroupFixup::isAccountName(name)) << name;
    }
    EXPECT_FALSE(sTaskUserGroupFixup::isAccountName(std::string("a\0b", 3)));
    long id = -7;
    EXPECT_TRUE(sTaskUserGroupFixup::parseAccountId("0", id));
    EXPECT_EQ(id, 0);
    EXPECT_TRUE(sTaskUserGroupFixup::parseAccountId("4294967294", id));
    EXPECT_EQ(id, 4294967294L);
    for (const char* text : {"00", "007", "+5", " 12", "12 ", "1e3", "99999999999999999999"}) {
        EXPECT_FALSE(sTaskUserGroupFixup::parseAccountId(text, id)) << text;
    }
}

TEST_F(AccountInputTest, IdentifiersOutsideTheFamilyGiveAnUnknownResult) {
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
