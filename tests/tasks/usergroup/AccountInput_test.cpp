// What the user and group family takes as an account name or id, beyond the
// hostile values the injection matrix tries: only whole decimal ids.
#include <gtest/gtest.h>

#include <string>

#include "tasks/usergroup/sTaskUserGroupFixup.h"

namespace vxl_fixup {
namespace {

TEST(AccountInputTest, NamesAndIds) {
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
    for (const char* text :
         {"00", "007", "+5", " 12", "12 ", "12a", "1e3", "99999999999999999999"}) {
        EXPECT_FALSE(sTaskUserGroupFixup::parseAccountId(text, id)) << text;
    }
}

}  // namespace
}  // namespace vxl_fixup
