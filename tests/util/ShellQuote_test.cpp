#include "util/ShellQuote.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vxl_fixup {
namespace {

// What /bin/sh makes of a command line: the bytes printf writes.
std::string shellOutput(const std::string& line) {
    std::FILE* pipe = ::popen(line.c_str(), "re");
    if (pipe == nullptr) return "<popen failed>";
    std::string out;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

// Characters that matter only at the start of a word, or alone, get a text of
// their own; the rest share a few.
// clang-format off
const char* const HOSTILE[] = {
    "", "'", "''", "it's", "-n", "~root", "#comment", " lead", "!event", "\\", "a\nb\n",
    "h\xc3\xa9llo \xe4\xb8\xad", "two words\ta|b&c;d *?[a] {a,b} >/dev/full",
    "$HOME ${x} `id` $(touch /tmp/x) \"dq\""};
// clang-format on

TEST(ShellQuoteTest, ShellSeesExactlyTheOriginalBytes) {
    for (const char* text : HOSTILE) {
        const std::string original(text);
        EXPECT_EQ(shellOutput("printf %s " + shellQuote(original)), original) << original;
        EXPECT_EQ(shellOutput("printf %s \"" + shellQuoteInDoubleQuotes(original) + "\""), original)
            << original;
    }
}

TEST(ShellQuoteTest, SafeTextsStayByteIdentical) {
    for (const char* text : {"/usr/bin/id", "0755", "u+x,g-w", "root:root", "a=b", "x@y%z"}) {
        EXPECT_EQ(shellQuote(text), text);
    }
    EXPECT_EQ(shellQuote(""), "''");
    EXPECT_EQ(shellQuote("it's"), "'it'\\''s'");
}

// Lines written with the helpers split back into the texts they quoted, and
// into the words the shell itself makes of them.
TEST(ShellQuoteTest, QuotedLinesSplitBackIntoTheirWords) {
    for (const char* a : HOSTILE) {
        for (const char* b : {"", "x", "it's \"$x\""}) {
            const std::string line =
                " " + shellQuote(a) + "  k=\"" + shellQuoteInDoubleQuotes(b) + "\"" + shellQuote(b);
            std::vector<std::string> words;
            ASSERT_TRUE(splitShellWords(line, words)) << line;
            EXPECT_EQ(words, (std::vector<std::string>{a, "k=" + std::string(b) + b})) << line;
            std::string shellWords;
            for (const std::string& w : words) shellWords += "<" + w + ">";
            EXPECT_EQ(shellOutput("printf '<%s>' " + line), shellWords) << line;
        }
    }
}

TEST(ShellQuoteTest, LinesWithAnyOtherShellSyntaxDoNotSplit) {
    for (const char* line : {"a|b",       "a;b",   "a&",   "a >f",  "2>&1",   "$x",     "`id`",
                             "a*",        "~root", "a\tb", "'open", "\"open", "\"$x\"", "\"`id`\"",
                             "\"a\\nb\"", "a\\b",  "(a)",  "{a}",   "#x",     "a\nb",   "!a"}) {
        std::vector<std::string> words;
        EXPECT_FALSE(splitShellWords(line, words)) << line;
    }
}

}  // namespace
}  // namespace vxl_fixup
