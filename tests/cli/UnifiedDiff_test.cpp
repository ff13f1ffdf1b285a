// The plan's diffs read as "diff -u" prints them.
#include "cli/UnifiedDiff.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* name;
    std::string before, after, diff;
};

TEST(UnifiedDiffTest, HunksAsDiffPrintsThem) {
    std::string many, manyChanged;
    for (int i = 1; i <= 20; ++i) {
        many += std::to_string(i) + "\n";
        manyChanged += (i == 2 || i == 18 ? "x" : std::to_string(i)) + "\n";
    }
    const Case cases[] = {
        {"equal", "a\nb\n", "a\nb\n", ""},
        {"created", "", "a\nb\n", "@@ -0,0 +1,2 @@\n+a\n+b\n"},
        {"deleted", "a\n", "", "@@ -1 +0,0 @@\n-a\n"},
        {"one line changed, newline added at the end", "a\nb\nc\n", "a\nB\nc\nd",
         "@@ -1,3 +1,4 @@\n a\n-b\n+B\n c\n+d\n\\ No newline at end of file\n"},
        {"last line loses its newline", "a\n", "a",
         "@@ -1 +1 @@\n-a\n+a\n\\ No newline at end of file\n"},
        {"changes far apart make two hunks", many, manyChanged,
         "@@ -1,5 +1,5 @@\n 1\n-2\n+x\n 3\n 4\n 5\n@@ -15,6 +15,6 @@\n 15\n 16\n 17\n-18\n+x\n "
         "19\n 20\n"},
        {"appended after context", "1\n2\n3\n4\n5\n", "1\n2\n3\n4\n5\n6\n",
         "@@ -3,3 +3,4 @@\n 3\n 4\n 5\n+6\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vxl_cli::unifiedDiff(c.before, c.after), c.diff) << c.name;
    }
}

TEST(UnifiedDiffTest, AWholeRewriteBeyondTheSearchLimitStillDiffs) {
    std::string before, after;
    for (int i = 0; i < 3000; ++i) {
        before += "old " + std::to_string(i) + "\n";
        after += "new " + std::to_string(i) + "\n";
    }
    const std::string diff = vxl_cli::unifiedDiff("keep\n" + before, "keep\n" + after);
    EXPECT_EQ(diff.rfind("@@ -1,3001 +1,3001 @@\n keep\n-old 0\n", 0), 0u);
    EXPECT_NE(diff.find("-old 2999\n+new 0\n"), std::string::npos);
}

}  // namespace
