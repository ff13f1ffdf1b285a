#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

using Words = std::vector<std::string>;

TEST(StringUtilTest, Trim) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""}, {" \t ", ""}, {" a b\t", "a b"}, {"x", "x"}, {"\n a \n", "\n a \n"}};
    for (const auto& c : cases) EXPECT_EQ(FixupUtil::trimWhiteSpaces(c.first), c.second);
}

TEST(StringUtilTest, SplitBySpaces) {
    struct Case {
        const char* text;
        bool quotes;
        Words words;
    } cases[] = {
        {"", false, {""}},
        {" \t ", true, {""}},
        {"a  b\tc", false, {"a", "b", "c"}},
        {"a \"b c\"", true, {"a", "\"b c\"", ""}},
        {"a \"b c\"", false, {"a", "\"b", "c\""}},
        {"key=\"a b\" x", true, {"key=\"a b\"", "x"}},
        {"\"unclosed a", true, {"\"unclosed", "a"}},
        {"a\nb c", false, {"a\nb", "c"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FixupUtil::splitStringBySpaces(c.text, c.quotes), c.words)
            << c.text << " quotes=" << c.quotes;
    }
}

TEST(StringUtilTest, SplitByDelimiter) {
    struct Case {
        const char* text;
        const char* delimiter;
        Words tokens;
    } cases[] = {
        {"a,,b", ",", {"a", "", "b"}},
        {"a,", ",", {"a"}},
        {"a , b", ",", {"a ", " b"}},
        {",a", ",", {"", "a"}},
        {"  ", ",", {}},
        {"kernel.x = 5", "=", {"kernel.x ", " 5"}},
        {"a \"b c\"", " ", {"a", "\"b", "c\""}},
        {" a\tb ", "\t", {"a", "b"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FixupUtil::splitStringByDelim(c.text, c.delimiter), c.tokens)
            << c.text << " by '" << c.delimiter << "'";
    }
}

TEST(StringUtilTest, MatchingLineByWholeWords) {
    const std::string user = "dbuser", soft = "soft", nofile = "nofile";
    const Words lines = {"#dbuser soft nofile 1024", "dbuser\t soft  nofile   1024",
                         "dbuser soft nofile", "dbuser soft"};
    int index = -7;
    EXPECT_TRUE(FixupUtil::getMatchingLine(lines, {&user, &soft, &nofile}, index));
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(FixupUtil::getMatchingLine(lines, 2, {&user, &soft, &nofile}, index));
    EXPECT_EQ(index, 2);
    index = -7;
    EXPECT_FALSE(FixupUtil::getMatchingLine(lines, 3, {&user, &soft, &nofile}, index));
    EXPECT_FALSE(FixupUtil::getMatchingLine(lines, 10, {&user}, index));
    const std::string prefix = "dbuse";
    EXPECT_FALSE(FixupUtil::getMatchingLine(lines, {&prefix}, index));
    EXPECT_EQ(index, -7);
    EXPECT_TRUE(FixupUtil::getMatchingLine(lines, 2, {}, index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(FixupUtil::getMatchingLine(lines, {nullptr}, index));
}

TEST(StringUtilTest, MatchingLineInFile) {
    vxl_test::TempDir dir;
    const std::string path = dir.file("limits.conf"), missing = dir.file("missing");
    vxl_test::TempDir::write(path, "# x\n* hard nproc 5\n");
    const std::string star = "*", hard = "hard";
    int index = -1;
    EXPECT_TRUE(FixupUtil::hasMatchingLineInFile(&path, {&star, &hard}, index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(FixupUtil::hasMatchingLineInFile(&missing, {&star}, index));
    EXPECT_FALSE(FixupUtil::hasMatchingLineInFile(nullptr, {&star}, index));
    const std::string directory = dir.path();
    EXPECT_FALSE(FixupUtil::hasMatchingLineInFile(&directory, {}, index));
}

TEST(StringUtilTest, HostNames) {
    struct Case {
        const char* a;
        const char* b;
        bool match;
    } cases[] = {
        {"node1.example.com", "NODE1", true},
        {"node1", "node10", false},
        {"", "", true},
        {"node1.a", "node1.b", true},
        {".x", "", true},
        {"n\xe9", "N\xc9", false},
        {"abc", "abd", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FixupUtil::hostNamesMatch(c.a, c.b), c.match) << c.a << " vs " << c.b;
    }
}

TEST(StringUtilTest, LineStartsWithWholeKey) {
    struct Case {
        const char* line;
        const char* key;
        const char* delimiter;
        bool match;
    } cases[] = {
        {"kernel.panic=1", "kernel.panic", "=", true},
        {"kernel.panic_on_oops=1", "kernel.panic", "=", false},
        {"kernel.panic = 1", "kernel.panic", "=", true},
        {"kernel.panic\t1", "kernel.panic", " ", true},
        {"kernel.panic", "kernel.panic", "=", true},
        {"KEY: v", "KEY", "=", true},
        {"KEY|v", "KEY", "|", true},
        {"KEY|v", "KEY", "=", false},
        {"#KEY=v", "KEY", "=", false},
        {"KEY=v", "KEY", "#", true},
        {"KE", "KEY", "=", false},
        {"anything", "", "=", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FixupUtil::lineStartsWithKey(c.line, c.key, c.delimiter), c.match)
            << c.line << " / " << c.key << " / " << c.delimiter;
    }
}

}  // namespace
}  // namespace vxl_fixup
