// The manual pages keep up with what they describe: every command of
// `vxlfixup --help` has its subsection in vxlfixup(1) and every option its
// entry; every function the public header exports has its subsection in
// vxlfixup(3), and every other exported name and record is named there.
// The rendered pages of the build are read, as installed.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "support/Shell.h"
#include "support/TempDir.h"
#include "util/ShellQuote.h"

namespace {

using vxl_test::TempDir;

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

TEST(ManPagesTest, ToolPageHasEveryCommandAndOptionOfTheHelp) {
    const vxl_test::ShellRun help =
        vxl_test::runShell(vxl_fixup::shellQuote(VXL_CLI_PATH) + " --help");
    ASSERT_EQ(help.exitCode, 0) << help.output;
    const std::string page = TempDir::read(std::string(VXL_BUILD_DIR) + "/man/vxlfixup.1");
    const std::set<std::string> commands = matches(help.output, R"(vxlfixup (-*[a-z][a-z-]*))");
    EXPECT_TRUE(commands.count("run") && commands.count("show")) << help.output;
    for (const std::string& command : commands) {
        EXPECT_TRUE(hasLine(page, ".SS " + command)) << "no subsection for " << command;
    }
    for (const std::string& option : matches(help.output, R"((--[a-z][a-z-]*))")) {
        if (commands.count(option)) continue;
        EXPECT_NE(page.find("\\fB" + option + "\\fR"), std::string::npos)
            << "no entry for " << option;
    }
}

TEST(ManPagesTest, LibraryPageHasEveryExportedName) {
    // Declarations only: the lines that define VXL_EXPORT itself go.
    const std::string header = std::regex_replace(
        TempDir::read(std::string(VXL_SOURCE_DIR) + "/include/vxlfixup/vxlfixup.h"),
        std::regex(R"(\n#[^\n]*)"), "\n");
    const std::string page = TempDir::read(std::string(VXL_BUILD_DIR) + "/man/vxlfixup.3");
    const std::set<std::string> functions = matches(header, R"(VXL_EXPORT[^;(\n]*?(\w+)\s*\()");
    EXPECT_TRUE(functions.count("vxlRunFixup") && functions.count("vxlRunAutoFixup") &&
                functions.count("vxlFixupMemFree"))
        << header;
    for (const std::string& function : functions) {
        EXPECT_TRUE(hasLine(page, ".SS " + function)) << "no subsection for " << function;
    }
    std::set<std::string> others = matches(header, R"(VXL_EXPORT[^;(\n]*?(\w+)\s*[;\[=])");
    for (const std::string& record : matches(header, R"(struct\s+(\w+)\s*\{)")) {
        others.insert(record);
    }
    for (const std::string& name : others) {
        EXPECT_NE(page.find(name), std::string::npos) << name << " is not in vxlfixup(3)";
    }
}

}  // namespace
