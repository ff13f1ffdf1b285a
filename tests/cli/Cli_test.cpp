// The command-line tool as a person uses it: bad input gives one line on
// standard error and a non-zero exit, never a crash.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <tuple>

#include "support/Shell.h"
#include "support/TempDir.h"

namespace {

using vxl_test::ShellRun;
using vxl_test::TempDir;

ShellRun runTool(const std::string& arguments, const std::string& runner = "") {
    return vxl_test::runShell(runner + VXL_CLI_PATH + " " + arguments);
}

TEST(CliTest, BadInvocationsGiveOneLineAndExitTwo) {
    TempDir dir;
    TempDir::write(dir.file("doc.xml"), "<VEXEL_FIXUP_ROOT>\n</VEXEL_FIXUP_ROOT>\n");
    const std::string doc = dir.file("doc.xml"), missing = dir.file("missing.xml");
    const std::string noDir = dir.file("no/such/dir");
    // clang-format off
    const std::string cases[] = {
        "", "frobnicate", "run", "run " + doc + " --bogus", "run " + doc + " --trace-level x",
        "run " + doc + " --node", "run " + missing, "run " + doc + " --work-dir " + noDir,
        "run " + doc + " --work-dir " + doc, "show", "show " + missing, "ssh-equiv",
        "ssh-equiv GENERATE", "ssh-equiv update --work-dir " + dir.path(),
        "ssh-equiv generate --input " + doc, "ssh-equiv generate --trace-level x",
        "ssh-equiv generate --node", "ssh-equiv refresh --work-dir " + noDir, "plan",
        "plan " + doc + " --format xml", "plan " + doc + " --output",
        "plan " + doc + " --trace-level 0", "plan " + doc + " --output " + dir.path(),
        "plan " + doc + " --work-dir " + noDir,
    };
    // clang-format on
    for (const std::string& args : cases) {
        const ShellRun r = runTool(args);
        EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.output;
        EXPECT_EQ(r.output.rfind("vxlfixup: ", 0), 0u) << args << "\n" << r.output;
        EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << "one line for: " << args;
    }
}

TEST(CliTest, HelpExplainsEveryOption) {
    const ShellRun r = runTool("--help");
    EXPECT_EQ(r.exitCode, 0);
    for (const char* option : {"--node", "--work-dir", "--trace-dir", "--trace-level",
                               "--in-memory", "show", "ssh-equiv", "generate", "reuse", "update",
                               "refresh", "--input", "--file", "plan", "--output", "--format"}) {
        EXPECT_NE(r.output.find(option), std::string::npos) << option;
    }
}

// Both run modes: a document without tasks for the node saves an empty
// table that show reads; a document the library refuses ends in its error
// and exit code 1, with the trace at the level asked.
TEST(CliTest, RunReportsTheOutputDocumentOrTheLibrarysFailure) {
    TempDir dir;
    TempDir::write(dir.file("empty.xml"),
                   "<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n  </TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n");
    TempDir::write(dir.file("bad.xml"), "<VEXEL_FIXUP_ROOT>\n</VEXEL_FIXUP_ROOT>\n");
    const std::string options = " --node n1 --trace-level 0 --work-dir " + dir.path();
    const std::string output = dir.path() + "/fixup/vexelfixupoutput_n1.xml";
    for (const auto& [mode, source, error] :
         {std::tuple{"", "Main::vxlRunFixup", "caught XmlParserException error is {"},
          {" --in-memory", "Main::vxlRunAutoFixup", "caught XmlParserException. error is {"}}) {
        ShellRun r = runTool("run " + dir.file("empty.xml") + options + mode);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_NE(r.output.find("output document: " + output), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("(no outcome recorded for any node)"), std::string::npos);
        EXPECT_EQ(runTool("show " + output).exitCode, 0);

        r = runTool("run " + dir.file("bad.xml") + options + mode);
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_EQ(r.output.rfind(std::string("vxlfixup: ") + error, 0), 0u) << r.output;
        // Level 0 writes vxlRunFixup's detail lines too.
        EXPECT_NE(TempDir::read(dir.file("vexel_fixup_trace_0.log"))
                      .find(std::string(source) + " - " + error),
                  std::string::npos)
            << source;
    }
}

TEST(CliTest, ShowPrintsEveryOutcomeWithItsErrors) {
    TempDir dir;
    const std::string output = dir.file("out.xml");
    TempDir::write(
        output,
        "<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n<TASK ID=\"TASKKERNELPARAM\">\n<FIXUP_DATA_LIST>\n"
        "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"node1.example.com\">\n<FIXUP_OUTPUT_DATA>\n"
        "<STATUS>SUCCESSFUL</STATUS>\n<ERROR_DETAILS />\n</FIXUP_OUTPUT_DATA>\n</NODE>\n"
        "<NODE NAME=\"node2\">\n<FIXUP_OUTPUT_DATA>\n<STATUS>WARNING</STATUS>\n"
        "<ERROR_DETAILS />\n</FIXUP_OUTPUT_DATA>\n</NODE>\n</NODE_LIST>\n</FIXUP_DATA>\n"
        "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"Node1\">\n<FIXUP_OUTPUT_DATA>\n"
        "<STATUS>FAILED</STATUS>\n<ERROR_DETAILS>\n<NATIVE_ERRORS>\n"
        "<ERROR>sysctl: permission denied</ERROR>\n</NATIVE_ERRORS>\n<NLS_ERRORS>\n"
        "<NLS_MSG FACILITY=\"Vxlg\" ID=\"9026\" DISPLAY_ID=\"true\">\n<MSG_ARG_LIST>\n"
        "<MSG_ARG>fs.file-max</MSG_ARG>\n<MSG_ARG>node1</MSG_ARG>\n</MSG_ARG_LIST>\n</NLS_MSG>\n"
        "</NLS_ERRORS>\n</ERROR_DETAILS>\n</FIXUP_OUTPUT_DATA>\n</NODE>\n</NODE_LIST>\n"
        "</FIXUP_DATA>\n</FIXUP_DATA_LIST>\n</TASK>\n</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n");
    const ShellRun r = runTool("show " + output);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output,
              "TASK             INSTANCE  NODE               STATUS      ERRORS\n"
              "TASKKERNELPARAM  0         node1.example.com  SUCCESSFUL  -\n"
              "TASKKERNELPARAM  0         node2              WARNING     -\n"
              "TASKKERNELPARAM  1         Node1              FAILED      "
              "NLS Vxlg-9026(fs.file-max, node1)\n"
              "                                                          "
              "native: sysctl: permission denied\n");
}

TEST(CliTest, PlanByAUserWhoIsNotRootFailsWithOneLine) {
    const std::string asNobody =
        ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const ShellRun r = runTool("plan /nonexistent.xml", asNobody);
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_EQ(r.output.rfind("vxlfixup: plan needs root: ", 0), 0u) << r.output;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;
}

}  // namespace
