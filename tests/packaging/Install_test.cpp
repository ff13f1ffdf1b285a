// A prefix install as a host project meets it: every file in its GNU
// directory, the tool and the manuals usable from there and up to date, and
// two host programs built against the installed tree alone, one through
// find_package(vxlfixup) and the C example through pkg-config. The hosts
// only make runs that the library refuses or that fail on a missing
// document, so nothing outside the temporary folder is touched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <regex>
#include <set>
#include <string>

#include "support/Shell.h"
#include "support/TempDir.h"
#include "util/ShellQuote.h"

namespace {

using vxl_fixup::shellQuote;
using vxl_test::runShell;
using vxl_test::ShellRun;
using vxl_test::TempDir;

const std::string kLibDir = VXL_INSTALL_LIBDIR;

std::string linkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        install_ = runShell(shellQuote(VXL_CMAKE) + " --install " + shellQuote(VXL_BUILD_DIR) +
                            " --prefix " + shellQuote(prefix()));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_EQ(install_.exitCode, 0) << install_.output; }

    static std::string prefix() { return dir_->file("prefix"); }
    static std::string installed(const std::string& relative) { return prefix() + "/" + relative; }

    static TempDir* dir_;
    static ShellRun install_;
};

TempDir* InstallTest::dir_ = nullptr;
ShellRun InstallTest::install_{-1, ""};

// The other files are used from their GNU directories by the tests below.
TEST_F(InstallTest, LibraryHasItsSonameAndLinksAndTheCopyrightIsThere) {
    EXPECT_TRUE(TempDir::exists(installed("share/doc/vxlfixup/copyright")));
    // The development link names the SONAME file, which names the real one.
    EXPECT_EQ(linkTarget(installed(kLibDir + "/libvxlfixup.so")), "libvxlfixup.so.1");
    EXPECT_EQ(linkTarget(installed(kLibDir + "/libvxlfixup.so.1")), "libvxlfixup.so.1.0.0");
    const ShellRun soname =
        runShell("readelf -d " + shellQuote(installed(kLibDir + "/libvxlfixup.so.1.0.0")));
    EXPECT_NE(soname.output.find("Library soname: [libvxlfixup.so.1]"), std::string::npos)
        << soname.output;
}

std::set<std::string> matches(const std::string& text, const std::string& pattern) {
    std::set<std::string> found;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it) {
        found.insert((*it)[1]);
    }
    return found;
}

bool hasLine(const std::string& page, const std::string& start) {
    return page.rfind(start, 0) == 0 || page.find("\n" + start) != std::string::npos;
}

// The tool and both manuals work from the prefix, and the manuals keep up
// with what they describe: every command of the tool's help has its
// subsection in vxlfixup(1) and every option its entry; every function the
// installed header exports has its subsection in vxlfixup(3), and every
// other exported name and record is named there.
TEST_F(InstallTest, ToolAndManualsWorkFromThePrefixAndDescribeEverything) {
    const ShellRun help = runShell(shellQuote(installed("bin/vxlfixup")) + " --help");
    EXPECT_EQ(help.exitCode, 0) << help.output;
    EXPECT_EQ(help.output.rfind("usage: vxlfixup run", 0), 0u) << help.output;
    const std::string man = "man -M " + shellQuote(installed("share/man"));
    std::string page[4];
    for (const int section : {1, 3}) {
        const std::string file = installed("share/man/man" + std::to_string(section) +
                                           "/vxlfixup." + std::to_string(section) + ".gz");
        EXPECT_EQ(runShell(man + " -w " + std::to_string(section) + " vxlfixup").output,
                  file + "\n");
        const ShellRun shown = runShell("MANPAGER=cat MANWIDTH=80 " + man + " " +
                                        std::to_string(section) + " vxlfixup");
        EXPECT_EQ(shown.exitCode, 0) << shown.output;
        EXPECT_NE(shown.output.find("SEE ALSO"), std::string::npos) << shown.output;
        page[section] = runShell("gzip -dc " + shellQuote(file)).output;
    }

    const std::set<std::string> commands = matches(help.output, R"(vxlfixup (-*[a-z][a-z-]*))");
    EXPECT_TRUE(commands.count("run") && commands.count("show")) << help.output;
    for (const std::string& command : commands) {
        EXPECT_TRUE(hasLine(page[1], ".SS " + command)) << "no subsection for " << command;
    }
    for (const std::string& option : matches(help.output, R"((--[a-z][a-z-]*))")) {
        EXPECT_TRUE(commands.count(option) ||
                    page[1].find("\\fB" + option + "\\fR") != std::string::npos)
            << "no entry for " << option;
    }

    // Declarations only: the lines that define VXL_EXPORT itself go.
    const std::string header = std::regex_replace(
        TempDir::read(installed("include/vxlfixup/vxlfixup.h")), std::regex(R"(\n#[^\n]*)"), "\n");
    const std::set<std::string> functions = matches(header, R"(VXL_EXPORT[^;(\n]*?(\w+)\s*\()");
    EXPECT_TRUE(functions.count("vxlRunFixup") && functions.count("vxlRunAutoFixup") &&
                functions.count("vxlFixupMemFree"))
        << header;
    for (const std::string& function : functions) {
        EXPECT_TRUE(hasLine(page[3], ".SS " + function)) << "no subsection for " << function;
    }
    std::set<std::string> others = matches(header, R"(VXL_EXPORT[^;(\n]*?(\w+)\s*[;\[=])");
    for (const std::string& record : matches(header, R"(struct\s+(\w+)\s*\{)")) {
        others.insert(record);
    }
    for (const std::string& name : others) {
        EXPECT_NE(page[3].find(name), std::string::npos) << name << " is not in vxlfixup(3)";
    }
}

TEST_F(InstallTest, CMakeHostFindsThePackageAndCallsTheCppEntryPoint) {
    const std::string build = dir_->file("cmake_host");
    const ShellRun made =
        runShell(shellQuote(VXL_CMAKE) + " -S " +
                 shellQuote(std::string(VXL_SOURCE_DIR) + "/tests/packaging/cmake_host") + " -B " +
                 shellQuote(build) + " -DCMAKE_PREFIX_PATH=" + shellQuote(prefix()) + " && " +
                 shellQuote(VXL_CMAKE) + " --build " + shellQuote(build));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const ShellRun needed = runShell("readelf -d " + shellQuote(build + "/cmake_host"));
    EXPECT_NE(needed.output.find("Shared library: [libvxlfixup.so.1]"), std::string::npos)
        << needed.output;
    const ShellRun ran = runShell(shellQuote(build + "/cmake_host"));
    EXPECT_EQ(ran.exitCode, 0) << ran.output;
    EXPECT_EQ(ran.output,
              "return code: 1\nerror: caught FixupException. error is {vxlRunAutoFixup() - a "
              "required input of the fix-up record is null}\n");
}

TEST_F(InstallTest, CExampleBuildsWithPkgConfigAndReportsAMissingDocument) {
    const std::string pkgConfig =
        "PKG_CONFIG_PATH=" + shellQuote(installed(kLibDir + "/pkgconfig")) + " pkg-config ";
    const std::string program = dir_->file("c_host");
    const ShellRun made = runShell(
        "cc -std=c11 -Wall -Wextra -Wpedantic -Werror -o " + shellQuote(program) + " " +
        shellQuote(std::string(VXL_SOURCE_DIR) + "/examples/host_example.c") + " $(" + pkgConfig +
        "--cflags --libs vxlfixup) -Wl,-rpath,$(" + pkgConfig + "--variable=libdir vxlfixup)");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    ASSERT_EQ(::mkdir(dir_->file("work").c_str(), 0700), 0);
    const ShellRun ran = runShell(shellQuote(program) + " " + shellQuote(dir_->file("none.xml")) +
                                  " " + shellQuote(dir_->file("work")) + " node1");
    EXPECT_EQ(ran.exitCode, 1) << ran.output;
    EXPECT_EQ(ran.output.rfind("return code: 1\nerror: caught XmlParserException error is {", 0),
              0u)
        << ran.output;
}

}  // namespace
