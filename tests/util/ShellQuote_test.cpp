#include "util/ShellQuote.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

// What /bin/sh makes of a command line: the bytes printf writes. It runs in a
// directory holding the file "f", with HOME and f set, so that an unquoted
// glob, tilde or parameter would expand to something else.
std::string shellRun(const vxl_test::TempDir& dir, const std::string& command) {
    const std::string line = "cd " + dir.path() + " && HOME=/home-dir f=x && " + command;
    std::FILE* pipe = ::popen(line.c_str(), "re");
    if (pipe == nullptr) return "<popen failed>";
    std::string out;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

std::string shellOutput(const vxl_test::TempDir& dir, const std::string& word) {
    return shellRun(dir, "printf %s " + word);
}

// Every character outside the plain set on its own, then texts that mix them.
TEST(ShellQuoteTest, ShellSeesExactlyTheOriginalBytes) {
    vxl_test::TempDir dir;
    vxl_test::TempDir::write(dir.file("f"), "");
    std::vector<std::string> texts;
    for (const char c : std::string("*?[~!#&|;<>(){}$`'\"\\ \t\n")) {
        const std::string alone(1, c);
        // Quoted whatever the shell: bash expands what sh leaves alone ({a,b}, !x).
        EXPECT_NE(shellQuote(alone), alone) << "left bare: " << alone;
        texts.push_back(alone);
        texts.push_back("f" + alone + "f");
    }
    for (const char* text : {"", "''", "it's", "-n", "~root", "h\xc3\xa9llo \xe4\xb8\xad",
                             "$(touch /tmp/x) `id` ${f} \"dq\" a\nb\n"}) {
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        EXPECT_EQ(shellOutput(dir, shellQuote(text)), text) << text;
        EXPECT_EQ(shellOutput(dir, "\"" + shellQuoteInDoubleQuotes(text) + "\""), text) << text;
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
    vxl_test::TempDir dir;
    for (const char* a :
         {"", "it's", "$(touch /tmp/x) `id`", "a b\tc\nd", "\\\"", "*?[~!#&|;<>(){}"}) {
        for (const char* b : {"", "x", "it's \"$x\""}) {
            const std::string line =
                " " + shellQuote(a) + "  k=\"" + shellQuoteInDoubleQuotes(b) + "\"" + shellQuote(b);
            std::vector<std::string> words;
            ASSERT_TRUE(splitShellWords(line, words)) << line;
            EXPECT_EQ(words, (std::vector<std::string>{a, "k=" + std::string(b) + b})) << line;
            std::string shellWords;
            for (const std::string& w : words) shellWords += "<" + w + ">";
            EXPECT_EQ(shellRun(dir, "printf '<%s>' " + line), shellWords) << line;
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
