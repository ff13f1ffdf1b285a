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

}  // namespace
}  // namespace vxl_fixup
