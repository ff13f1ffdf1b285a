#include "util/ShellQuote.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Shell.h"
#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

// What /bin/sh prints for "printf %s word", run in a directory holding the
// file "f" with HOME and f set, so that an unquoted glob, tilde or parameter
// would expand to something else.
std::string shellOutput(const vxl_test::TempDir& dir, const std::string& word) {
    return vxl_test::runShell("cd " + dir.path() + " && HOME=/home-dir f=x && printf %s " + word)
        .output;
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

}  // namespace
}  // namespace vxl_fixup
