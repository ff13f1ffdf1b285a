#include <gtest/gtest.h>

#include <tuple>

#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

using Words = std::vector<std::string>;

TEST(StringUtilTest, Trim) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""}, {" \t ", ""}, {" a b\t", "a b"}, {"x", "x"}, {"\n a \n", "\n a \n"}};
    for (const auto& [text, trimmed] : cases) EXPECT_EQ(FixupUtil::trimWhiteSpaces(text), trimmed);
}

TEST(StringUtilTest, SplitBySpaces) {
    const std::tuple<const char*, bool, Words> cases[] = {
        // text, honour quotes, words
        {" \t ", true, {""}},
        {"a  b\tc", false, {"a", "b", "c"}},
        {"a \"b c\"", true, {"a", "\"b c\"", ""}},
        {"a \"b c\"", false, {"a", "\"b", "c\""}},
        {"key=\"a b\" x", true, {"key=\"a b\"", "x"}},
        {"\"unclosed a", true, {"\"unclosed", "a"}},
        {"a\nb c", false, {"a\nb", "c"}},
    };
    for (const auto& [text, quotes, words] : cases) {
        EXPECT_EQ(FixupUtil::splitStringBySpaces(text, quotes), words) << text << " " << quotes;
    }
}

TEST(StringUtilTest, SplitByDelimiter) {
    const std::tuple<const char*, const char*, Words> cases[] = {
        // text, delimiter, tokens
        {"a,,b", ",", {"a", "", "b"}}, {"a,", ",", {"a"}}, {"a , b", ",", {"a ", " b"}},
        {",a", ",", {"", "a"}},        {"  ", ",", {}},    {" a\tb ", "\t", {"a", "b"}},
    };
    for (const auto& [text, delimiter, tokens] : cases) {
        EXPECT_EQ(FixupUtil::splitStringByDelim(text, delimiter), tokens) << text;
    }
}

TEST(StringUtilTest, MatchingLineByWholeWords) {
    const std::string user = "dbuser", soft = "soft", nofile = "nofile", prefix = "dbuse";
    const Words lines = {"#dbuser soft nofile 1024", "dbuser\t soft  nofile   1024",
                         "dbuser soft nofile", "dbuser soft"};
    int index = -7;
    EXPECT_FALSE(FixupUtil::getMatchingLine(lines, 3, {&user, &soft, &nofile}, index));
    EXPECT_FALSE(FixupUtil::getMatchingLine(lines, 10, {&user}, index));
    EXPECT_FALSE(FixupUtil::getMatchingLine(lines, {&prefix}, index));
    EXPECT_FALSE(FixupUtil::getMatchingLine(lines, {nullptr}, index));
    EXPECT_EQ(index, -7) << "untouched without a match";
    EXPECT_TRUE(FixupUtil::getMatchingLine(lines, {&user, &soft, &nofile}, index));
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(FixupUtil::getMatchingLine(lines, 2, {&user, &soft, &nofile}, index));
    EXPECT_EQ(index, 2);
    EXPECT_TRUE(FixupUtil::getMatchingLine(lines, 3, {}, index));
    EXPECT_EQ(index, 3);
}

TEST(StringUtilTest, HostNamesMatchByShortNameIgnoringAsciiCase) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"node1.example.com", "NODE1", true}, {"node1", "node10", false}, {"", "", true},
        {"node1.a", "node1.b", true},         {".x", "", true},           {"n\xe9", "N\xc9", false},
    };
    for (const auto& [a, b, match] : cases) {
        EXPECT_EQ(FixupUtil::hostNamesMatch(a, b), match) << a << " vs " << b;
    }
}

TEST(StringUtilTest, LineStartsWithWholeKey) {
    const std::tuple<const char*, const char*, const char*, bool> cases[] = {
        // line, key, delimiter, match
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
    for (const auto& [line, key, delimiter, match] : cases) {
        EXPECT_EQ(FixupUtil::lineStartsWithKey(line, key, delimiter), match)
            << line << " / " << key << " / " << delimiter;
    }
}

}  // namespace
}  // namespace vxl_fixup
