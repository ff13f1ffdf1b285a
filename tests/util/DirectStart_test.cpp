#include "util/DirectStart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/Shell.h"
#include "support/TempDir.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {
namespace {

using Words = std::vector<std::string>;

TEST(DirectStartTest, OnlyAProgramPathWithQuotedWordsStartsDirectly) {
    std::vector<std::pair<std::string, Words>> cases = {
        {"(/sbin/sysctl  -n kernel.shmmax)", {"/sbin/sysctl", "-n", "kernel.shmmax"}},
        {"  ( './my tool' '' \"a b\" )  ", {"./my tool", "", "a b"}},
        {"/bin/echo 'it'\\''s'", {"/bin/echo", "it's"}},
        {"'A=/x' y", {"A=/x", "y"}},  // quoted: a program, not an assignment
        // Not for a direct start: the shell decides what these mean.
        {"A=/x y", {}},
        {"echo x", {}},  // a bare name may be a builtin
        {"(/bin/echo x", {}},
        {"/bin/echo x)", {}},
        {"( )", {}},
        {"", {}},
        {"(/bin/echo x) (/bin/echo y)", {}},
        {"/bin/rpm -qa | /bin/grep x", {}},
        {"/bin/rm -f /var/lib/rpm/__db.*", {}},
    };
    for (const char* syntax :
         {"a;b",  "a&",    "a >f",   "2>&1",   "$x",       "`id`",      "a*",   "~root",
          "a\tb", "'open", "\"open", "\"$x\"", "\"`id`\"", "\"a\\nb\"", "a\\b", "(a)",
          "{a}",  "#x",    "a\nb",   "!a",     "a?",       "[a]"}) {
        cases.push_back({std::string("/bin/echo ") + syntax, {}});
    }
    for (const auto& [line, expected] : cases) {
        Words words;
        EXPECT_EQ(directStartWords(line, words) ? words : Words{}, expected) << line;
    }
}

// Lines written with the quoting helpers split into the very words the
// shell makes of them.
TEST(DirectStartTest, QuotedLinesSplitIntoTheShellsWords) {
    vxl_test::TempDir dir;
    const std::string tool = dir.file("it's words");
    vxl_test::TempDir::write(tool, "#!/bin/sh\nprintf '<%s>' \"$@\"\n");
    ASSERT_EQ(::chmod(tool.c_str(), 0700), 0);
    for (const char* a :
         {"", "it's", "$(touch /tmp/x) `id`", "a b\tc\nd", "\\\"", "*?[~!#&|;<>(){}"}) {
        for (const char* b : {"", "x", "it's \"$x\""}) {
            const std::string line = " (" + shellQuote(tool) + " " + shellQuote(a) + "  k=\"" +
                                     shellQuoteInDoubleQuotes(b) + "\"" + shellQuote(b) + ")";
            Words words;
            ASSERT_TRUE(directStartWords(line, words)) << line;
            EXPECT_EQ(words, (Words{tool, a, "k=" + std::string(b) + b})) << line;
            EXPECT_EQ(vxl_test::runShell(line).output, "<" + std::string(a) + "><k=" + b + b + ">")
                << line;
        }
    }
}

}  // namespace
}  // namespace vxl_fixup
