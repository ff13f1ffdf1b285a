// The command-line tool as a person uses it: bad input gives one line on
// standard error and a non-zero exit, never a crash.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/TempDir.h"

namespace {

struct ToolRun {
    int exitCode;
    std::string output;  // standard output and error together
};

ToolRun runTool(const std::string& arguments, const std::string& runner = "") {
    const std::string cmd = runner + VXL_CLI_PATH + " " + arguments + " 2>&1";
    ToolRun r{-1, ""};
    FILE* p = ::popen(cmd.c_str(), "re");
    if (p == nullptr) return r;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

TEST(CliTest, BadInvocationsGiveOneLineAndExitTwo) {
    vxl_test::TempDir dir;
    vxl_test::TempDir::write(dir.file("doc.xml"), "<VEXEL_FIXUP_ROOT>\n</VEXEL_FIXUP_ROOT>\n");
    const std::string doc = dir.file("doc.xml");
    const std::string cases[] = {
        "",
        "frobnicate",
        "run",
        "run " + doc + " --bogus",
        "run " + doc + " --trace-level x",
        "run " + doc + " --node",
        "run " + dir.file("missing.xml"),
        "run " + doc + " --work-dir " + dir.file("no/such/dir"),
        "run " + doc + " --work-dir " + doc,
        "show",
        "show " + dir.file("missing.xml"),
        "ssh-equiv",
        "ssh-equiv GENERATE",
        "ssh-equiv update --work-dir " + dir.path(),
        "ssh-equiv generate --input " + doc,
        "ssh-equiv generate --trace-level x",
        "ssh-equiv generate --node",
        "ssh-equiv refresh --work-dir " + dir.file("no/such/dir"),
        "plan",
        "plan " + doc + " --format xml",
        "plan " + doc + " --output",
        "plan " + doc + " --trace-level 0",
        "plan " + doc + " --output " + dir.path(),
        "plan " + doc + " --work-dir " + dir.file("no/such/dir"),
    };
    for (const std::string& args : cases) {
        const ToolRun r = runTool(args);
        EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.output;
        EXPECT_EQ(r.output.rfind("vxlfixup: ", 0), 0u) << args << "\n" << r.output;
        EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << "one line for: " << args;
    }
}

TEST(CliTest, HelpExplainsEveryOption) {
    const ToolRun r = runTool("--help");
    EXPECT_EQ(r.exitCode, 0);
    for (const char* option : {"--node", "--work-dir", "--trace-dir", "--trace-level",
                               "--in-memory", "show", "ssh-equiv", "generate", "reuse", "update",
                               "refresh", "--input", "--file", "plan", "--output", "--format"}) {
        EXPECT_NE(r.output.find(option), std::string::npos) << option;
    }
}

TEST(CliTest, RunOfADocumentWithoutTasksForTheNodeSavesAnEmptyTable) {
    vxl_test::TempDir dir;
    vxl_test::TempDir::write(dir.file("doc.xml"),
                             "<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n  </TASK_LIST>\n"
                             "</VEXEL_FIXUP_ROOT>\n");
    for (const char* mode : {"", " --in-memory"}) {
        const ToolRun r =
            runTool("run " + dir.file("doc.xml") + " --node n1 --work-dir " + dir.path() + mode);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_NE(
            r.output.find("output document: " + dir.path() + "/fixup/vexelfixupoutput_n1.xml"),
            std::string::npos)
            << r.output;
        EXPECT_NE(r.output.find("(no outcome recorded for any node)"), std::string::npos);
        const ToolRun shown = runTool("show " + dir.path() + "/fixup/vexelfixupoutput_n1.xml");
        EXPECT_EQ(shown.exitCode, 0) << shown.output;
    }
}

TEST(CliTest, RunReportsTheLibrarysFailureAndExitCode) {
    vxl_test::TempDir dir;
    vxl_test::TempDir::write(dir.file("doc.xml"), "<VEXEL_FIXUP_ROOT>\n</VEXEL_FIXUP_ROOT>\n");
    const struct {
        const char* option;
        std::string source, error;
    } modes[] = {
        {"", "Main::vxlRunFixup", "caught XmlParserException error is {"},
        {" --in-memory", "Main::vxlRunAutoFixup", "caught XmlParserException. error is {"}};
    for (const auto& m : modes) {
        const ToolRun r = runTool("run " + dir.file("doc.xml") +
                                  " --node n1 --trace-level 0 --work-dir " + dir.path() + m.option);
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_EQ(r.output.rfind("vxlfixup: " + m.error, 0), 0u) << r.output;
        // Level 0 writes vxlRunFixup's detail lines too.
        EXPECT_NE(vxl_test::TempDir::read(dir.file("vexel_fixup_trace_0.log"))
                      .find(m.source + " - " + m.error),
                  std::string::npos)
            << m.source;
    }
}

TEST(CliTest, ShowPrintsEveryOutcomeWithItsErrors) {
    vxl_test::TempDir dir;
    const std::string output = dir.file("out.xml");
    vxl_test::TempDir::write(
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
    const ToolRun r = runTool("show " + output);
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
    const ToolRun r = runTool("plan /nonexistent.xml", asNobody);
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_EQ(r.output.rfind("vxlfixup: plan needs root: ", 0), 0u) << r.output;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;
}

}  // namespace
