#include "util/DirectStart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vxl_fixup {
namespace {

using Words = std::vector<std::string>;

TEST(DirectStartTest, OnlyAProgramPathWithQuotedWordsStartsDirectly) {
    const std::pair<const char*, Words> cases[] = {
        {"(/sbin/sysctl  -n kernel.shmmax)", {"/sbin/sysctl", "-n", "kernel.shmmax"}},
        {"  ( './my tool' '' \"a b\" )  ", {"./my tool", "", "a b"}},
        {"/bin/echo 'it'\\''s'", {"/bin/echo", "it's"}},
        {"'A=/x' y", {"A=/x", "y"}},  // quoted: a program, not an assignment
        // Not for a direct start: the shell decides what these mean.
        {"A=/x y", {}},
        {"echo x", {}},        // a bare name may be a builtin
        {"(/bin/echo x", {}},  // unbalanced
        {"/bin/echo x)", {}},
        {"( )", {}},
        {"", {}},
        {"(/bin/echo x) (/bin/echo y)", {}},
        {"/bin/rpm -qa | /bin/grep x", {}},
        {"/bin/rm -f /var/lib/rpm/__db.*", {}},
        {"/bin/echo x >/tmp/f", {}},
    };
    for (const auto& c : cases) {
        Words words;
        EXPECT_EQ(directStartWords(c.first, words), !c.second.empty()) << c.first;
        if (!c.second.empty()) {
            EXPECT_EQ(words, c.second) << c.first;
        }
    }
}

}  // namespace
}  // namespace vxl_fixup
