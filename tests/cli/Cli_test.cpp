// The command-line tool as a person uses it: bad input gives one line on
// standard error and a non-zero exit, never a crash.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <tuple>

#include "cli/JsonText.h"
#include "support/Shell.h"
#include "support/TempDir.h"

namespace {

using vxl_test::ShellRun;
using vxl_test::TempDir;

ShellRun runTool(const std::string& arguments, const std::string& runner = "") {
    return vxl_test::runShell(runner + VXL_CLI_PATH + " " + arguments);
}

// An output document with three outcomes: a success, a warning and a
// failure with a message and a native error.
const char* const kOutputDocument =
    "<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n<TASK ID=\"TASKKERNELPARAM\">\n<FIXUP_DATA_LIST>\n"
    "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"node1.example.com\">\n<FIXUP_OUTPUT_DATA>\n"
    "<STATUS>SUCCESSFUL</STATUS>\n<ERROR_DETAILS />\n</FIXUP_OUTPUT_DATA>\n</NODE>\n"
    "<NODE NAME=\"node2\">\n<FIXUP_OUTPUT_DATA>\n<STATUS>WARNING</STATUS>\n"
    "<ERROR_DETAILS />\n</FIXUP_OUTPUT_DATA>\n</NODE>\n</NODE_LIST>\n</FIXUP_DATA>\n"
    "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"Node1\">\n<FIXUP_OUTPUT_DATA>\n"
    "<STATUS>FAILED</STATUS>\n<ERROR_DETAILS>\n<NATIVE_ERRORS>\n"
    "<ERROR>sysctl: \"permission\" denied</ERROR>\n</NATIVE_ERRORS>\n<NLS_ERRORS>\n"
    "<NLS_MSG FACILITY=\"Vxlg\" ID=\"9026\" DISPLAY_ID=\"true\">\n<MSG_ARG_LIST>\n"
    "<MSG_ARG>fs.file-max</MSG_ARG>\n<MSG_ARG>node1</MSG_ARG>\n</MSG_ARG_LIST>\n</NLS_MSG>\n"
    "</NLS_ERRORS>\n</ERROR_DETAILS>\n</FIXUP_OUTPUT_DATA>\n</NODE>\n</NODE_LIST>\n"
    "</FIXUP_DATA>\n</FIXUP_DATA_LIST>\n</TASK>\n</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";

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
        "plan " + doc + " --work-dir " + noDir, "run " + doc + " --format xml",
        "run " + doc + " --format", "show " + doc + " --format yaml", "show " + doc + " " + doc,
        "show --format json", "show " + doc + " --bogus", "ssh-equiv generate --format html",
        "run " + doc + " --work-dir " + dir.file("dangling") + " --format json",
        "run " + doc + " --work-dir " + doc + "/sub",
    };
    ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
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
    TempDir::write(output, kOutputDocument);
    const ShellRun r = runTool("show " + output);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output,
              "TASK             INSTANCE  NODE               STATUS      ERRORS\n"
              "TASKKERNELPARAM  0         node1.example.com  SUCCESSFUL  -\n"
              "TASKKERNELPARAM  0         node2              WARNING     -\n"
              "TASKKERNELPARAM  1         Node1              FAILED      "
              "NLS Vxlg-9026(fs.file-max, node1)\n"
              "                                                          "
              "native: sysctl: \"permission\" denied\n");
}

// "--format json" writes only JSON on standard output (errors stay on
// standard error), the outcomes as plan writes them, and exits as text does.
TEST(CliTest, FormatJsonWritesTheOutcomesAsPlanDoes) {
    TempDir dir;
    TempDir::write(dir.file("out.xml"), kOutputDocument);
    TempDir::write(dir.file("empty.xml"),
                   "<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n  </TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n");
    TempDir::write(dir.file("bad.xml"), "<VEXEL_FIXUP_ROOT>\n</VEXEL_FIXUP_ROOT>\n");
    const std::string work = dir.path() + "/work";
    const std::string options = " --node n1 --work-dir " + work + " --format json 2>/dev/null";
    const std::string outcomes =
        "  \"outcomes\": [\n"
        "    {\"task\": \"TASKKERNELPARAM\", \"instance\": 0, \"node\": \"node1.example.com\", "
        "\"status\": \"SUCCESSFUL\", \"messages\": [], \"errors\": [], \"nativeErrors\": []},\n"
        "    {\"task\": \"TASKKERNELPARAM\", \"instance\": 0, \"node\": \"node2\", "
        "\"status\": \"WARNING\", \"messages\": [], \"errors\": [], \"nativeErrors\": []},\n"
        "    {\"task\": \"TASKKERNELPARAM\", \"instance\": 1, \"node\": \"Node1\", "
        "\"status\": \"FAILED\", \"messages\": [\"Vxlg-9026(fs.file-max, node1)\"], "
        "\"errors\": [{\"facility\": \"Vxlg\", \"id\": 9026, "
        "\"arguments\": [\"fs.file-max\", \"node1\"]}], \"nativeErrors\": [\"sysctl: \\\"permission\\\" denied\"]}\n"
        "  ]\n";
    const std::string runHead = "{\n  \"document\": \"" + dir.path() + "/";
    struct Row {
        std::string what, arguments;
        int exitCode;
        std::string output;  // the whole of standard output, or with "..." its start
    };
    const Row rows[] = {
        {"show", "show " + dir.file("out.xml") + " --format json", 0,
         "{\n  \"outputDocument\": \"" + dir.file("out.xml") + "\",\n" + outcomes + "}\n"},
        {"show, format first", "show --format json " + dir.file("out.xml"), 0,
         "{\n  \"outputDocument\": \"" + dir.file("out.xml") + "\",\n" + outcomes + "}\n"},
        {"show as text", "show " + dir.file("out.xml") + " --format text", 0,
         "TASK             INSTANCE  NODE  ..."},
        {"run without outcomes", "run " + dir.file("empty.xml") + options, 0,
         runHead + "empty.xml\",\n  \"node\": \"n1\",\n  \"workDir\": \"" + work +
             "/\",\n  \"outputDocument\": \"" + work +
             "/fixup/vexelfixupoutput_n1.xml\",\n  \"exitCode\": 0,\n  \"error\": \"\",\n"
             "  \"outcomes\": []\n}\n"},
        {"run the library refuses", "run " + dir.file("bad.xml") + options, 1,
         runHead + "bad.xml\",\n  \"node\": \"n1\",\n  \"workDir\": \"" + work +
             "/\",\n  \"outputDocument\": \"\",\n  \"exitCode\": 1,\n"
             "  \"error\": \"caught XmlParserException error is {..."},
    };
    for (const Row& row : rows) {
        const ShellRun r = runTool(row.arguments);
        EXPECT_EQ(r.exitCode, row.exitCode) << row.what << "\n" << r.output;
        const size_t dots = row.output.find("...");
        if (dots == std::string::npos) {
            EXPECT_EQ(r.output, row.output) << row.what;
        } else {
            EXPECT_EQ(r.output.substr(0, dots), row.output.substr(0, dots)) << row.what;
            // A JSON document ends with its object.
            const bool json = row.output[0] == '{';
            EXPECT_EQ(json ? r.output.substr(r.output.size() - 2) : "}\n", "}\n") << row.what;
        }
    }
}

// A work directory that does not exist yet is made, its last component
// only, for the caller alone whatever the umask; anything else is refused
// and nothing is made.
TEST(CliTest, RunCreatesAMissingWorkDirectory) {
    TempDir dir;
    TempDir::write(dir.file("empty.xml"),
                   "<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n  </TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n");
    TempDir::write(dir.file("file"), "x");
    ASSERT_EQ(::symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
    struct Row {
        std::string workDir;
        std::string umask;
        int exitCode;
        std::string made;  // the directory that must then exist (mode 0700), or none
        std::string message;
    };
    const Row rows[] = {
        {dir.file("new"), "022", 0, dir.file("new"), ""},
        {dir.file("slash") + "/", "022", 0, dir.file("slash"), ""},
        {dir.file("closed"), "777", 0, dir.file("closed"), ""},
        {"relative", "022", 0, dir.file("relative"), ""},
        {dir.file("a/b"), "022", 2, "", "does not exist, nor does its parent"},
        {dir.file("file/sub"), "022", 2, "", "is not a writable directory"},
        {dir.file("link"), "022", 2, "", "is not a writable directory"},
        {dir.file("file"), "022", 2, "", "is not a writable directory"},
    };
    for (const Row& row : rows) {
        const ShellRun r = vxl_test::runShell("cd " + dir.path() + " && umask " + row.umask +
                                              " && " + VXL_CLI_PATH + " run empty.xml --node n1 " +
                                              "--work-dir " + row.workDir);
        EXPECT_EQ(r.exitCode, row.exitCode) << row.workDir << "\n" << r.output;
        EXPECT_NE(r.output.find(row.message), std::string::npos) << row.workDir << "\n" << r.output;
        if (row.made.empty()) continue;
        struct stat st {};
        ASSERT_EQ(::lstat(row.made.c_str(), &st), 0) << row.workDir;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << row.workDir;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << row.workDir;
        EXPECT_EQ(st.st_uid, ::geteuid()) << row.workDir;
    }
    EXPECT_FALSE(TempDir::exists(dir.file("a")));
    EXPECT_FALSE(TempDir::exists(dir.file("target")));
}

// The JSON of ssh-equiv: the result text taken apart, whatever it holds.
TEST(CliTest, SshEquivJsonTakesTheResultTextApart) {
    struct Row {
        std::string what, resultText, members;  // members: from "succeeded" to "messages"
    };
    const Row rows[] = {
        {"generate",
         "<GENERATE><PUB_KEY_PUB_LOC>/w/n1.id_rsa.pub</PUB_KEY_PUB_LOC>"
         "<PUB_KEY_SSH_DIR_LOC>/root/.ssh/n1.id_rsa.pub</PUB_KEY_SSH_DIR_LOC></GENERATE>",
         "\"succeeded\": true,\n  \"publishedKey\": \"/w/n1.id_rsa.pub\",\n"
         "  \"keyInSshDirectory\": \"/root/.ssh/n1.id_rsa.pub\",\n  \"messages\": []"},
        {"update", "<UPDATE>SUCCESS</UPDATE>",
         "\"succeeded\": true,\n  \"publishedKey\": \"\",\n  \"keyInSshDirectory\": \"\",\n"
         "  \"messages\": []"},
        {"update failed",
         "<UPDATE><NLS_MSG><DISP_FACILITY>true</DISP_FACILITY><MSG_DATA>"
         "<DATA>/root/.ssh/a&amp;b</DATA><DATA>n1</DATA></MSG_DATA><FACILITY>Vxlg</FACILITY>"
         "<ID>9080</ID></NLS_MSG></UPDATE>",
         "\"succeeded\": false,\n  \"publishedKey\": \"\",\n  \"keyInSshDirectory\": \"\",\n"
         "  \"messages\": [\"Vxlg-9080(/root/.ssh/a&b, n1)\"]"},
        {"bare messages",
         "<NLS_MSG><MSG_DATA></MSG_DATA><FACILITY>Vxlg</FACILITY><ID>9031</ID>"
         "</NLS_MSG>",
         "\"succeeded\": false,\n  \"publishedKey\": \"\",\n  \"keyInSshDirectory\": \"\",\n"
         "  \"messages\": [\"Vxlg-9031()\"]"},
        {"unknown text", "<REFRESHED>SUCCESS</REFRESHED>",
         "\"succeeded\": false,\n  \"publishedKey\": \"\",\n  \"keyInSshDirectory\": \"\",\n"
         "  \"messages\": []"},
        {"no text", "",
         "\"succeeded\": false,\n  \"publishedKey\": \"\",\n  \"keyInSshDirectory\": \"\",\n"
         "  \"messages\": []"},
    };
    for (const Row& row : rows) {
        vxl_cli::SshSummary s;
        s.operation = "UPDATE";
        s.node = "n1";
        s.workDir = "/w/";
        s.exitCode = 3;
        s.resultText = row.resultText;
        s.error = "bad\tthing";
        std::ostringstream out;
        vxl_cli::printSshJson(s, out);
        EXPECT_EQ(out.str(),
                  "{\n  \"operation\": \"UPDATE\",\n  \"node\": \"n1\",\n"
                  "  \"workDir\": \"/w/\",\n  \"exitCode\": 3,\n  " +
                      row.members +
                      ",\n  \"agent\": {\"SSH_AUTH_SOCK\": \"\", \"SSH_AGENT_PID\": \"\"},\n"
                      "  \"resultText\": " +
                      vxl_cli::json(row.resultText) + ",\n  \"error\": \"bad\\tthing\"\n}\n")
            << row.what;
    }
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
