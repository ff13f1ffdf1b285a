// Whole runs through the exported interface, loaded with dlopen as a host
// does, inside a test node with a fake sysctl and a real sysctl.conf copy.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "vxlfixup/vxlfixup.h"

namespace vxl_fixup {
namespace {

const std::string kHeader = "<?xml version = '1.0' encoding = 'UTF-8'?>\n";
const std::string kWork = "/var/tmp/vxlwork/";
const std::string kOutput = kWork + "fixup/vexelfixupoutput_node1.xml";

// Documents in the serialiser's own form. A TASK element holds instances,
// each the NODE_LIST and DATA_LIST body given.
std::string taskElement(const std::string& taskId, const std::vector<std::string>& instances) {
    std::string task = "    <TASK ID=\"" + taskId + "\">\n      <FIXUP_DATA_LIST>\n";
    for (const std::string& body : instances) {
        task += "        <FIXUP_DATA>\n" + body + "        </FIXUP_DATA>\n";
    }
    return task + "      </FIXUP_DATA_LIST>\n    </TASK>\n";
}

std::string document(const std::vector<std::string>& tasks) {
    std::string doc = kHeader + "<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n";
    for (const std::string& task : tasks) doc += task;
    return doc + "  </TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

std::string kernelDocument(const std::vector<std::string>& instances) {
    return document({taskElement("TASKKERNELPARAM", instances)});
}

// moreData: further DATA elements after the NAME item, in serialised form.
std::string instanceBody(const std::string& node, const std::string& expected,
                         const std::string& param, const std::string& result = "",
                         const std::string& moreData = "") {
    std::string nodeLine = "            <NODE NAME=\"" + node + "\" EXP_VAL=\"" + expected + "\"";
    nodeLine += result.empty() ? " />\n" : ">\n" + result + "            </NODE>\n";
    return "          <NODE_LIST>\n" + nodeLine + "          </NODE_LIST>\n" +
           "          <DATA_LIST>\n            <DATA NAME=\"NAME\" VAL=\"" + param + "\" />\n" +
           moreData + "          </DATA_LIST>\n";
}

const std::string kSuccess =
    "              <FIXUP_OUTPUT_DATA>\n"
    "                <STATUS>SUCCESSFUL</STATUS>\n"
    "                <ERROR_DETAILS />\n"
    "              </FIXUP_OUTPUT_DATA>\n";

struct HostCall {
    std::string dataFile;      // vxlRunFixup: path of the document
    std::string documentText;  // vxlRunAutoFixup when inMemory
    bool inMemory = false;
    std::string node = "node1";
    std::string traceDir;
    int traceLevel = 0;
};

// Inside the node: loads the library and makes the calls in order, printing
// what the host sees, "rc|outputFile|errorMessage", per call.
int callLibrary(const std::vector<HostCall>& calls) {
    ::mkdir("/var/tmp/vxlwork", 0755);
    void* lib = ::dlopen(VXL_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return 90;
    auto runFixup = reinterpret_cast<int (*)(vxlfixup*)>(::dlsym(lib, "vxlRunFixup"));
    auto runAuto = reinterpret_cast<int (*)(vxlfixup*, const std::string*)>(::dlsym(
        lib, "_Z15vxlRunAutoFixupP8vxlfixupPKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"));
    auto memFree = reinterpret_cast<void (*)(void*)>(::dlsym(lib, "vxlFixupMemFree"));
    if (!runFixup || !runAuto || !memFree) return 91;
    for (const HostCall& c : calls) {
        std::string work = kWork, data = c.dataFile, node = c.node, traces = c.traceDir;
        char untouched[] = "untouched";
        vxlfixup record{};
        record.workDir = &work[0];
        record.dataFile = &data[0];
        record.nodeName = &node[0];
        record.traceDir = traces.empty() ? nullptr : &traces[0];
        record.traceLevel = c.traceLevel;
        record.outputFile = untouched;
        record.errorMessage = untouched;
        const int rc = c.inMemory ? runAuto(&record, &c.documentText) : runFixup(&record);
        std::printf("%d|%s|%s\n", rc, record.outputFile, record.errorMessage);
        if (record.outputFile != untouched) memFree(record.outputFile);
        if (record.errorMessage != untouched) memFree(record.errorMessage);
    }
    std::fflush(stdout);
    return 0;
}

class RunFixupNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        VXL_REQUIRE_TEST_NODE();
        sysctl = &node.addFakeSysctl("/sbin/sysctl");
        node.addFile("/etc/sysctl.conf", "# tuned\nfs.file-max = 65536\n");
    }
    NodeResult runCalls(const std::vector<HostCall>& calls) {
        NodeResult r = node.runFunction([calls] { return callLibrary(calls); });
        EXPECT_TRUE(r.ran()) << r.setupError;
        EXPECT_EQ(r.exitCode, 0) << r.stderrText;
        return r;
    }
    HostCall fileCall(const std::string& document) {
        node.addFile("/var/tmp/doc.xml", document);
        HostCall c;
        c.dataFile = "/var/tmp/doc.xml";
        return c;
    }
    TestNode node;
    FakeSysctl* sysctl = nullptr;
};

TEST_F(RunFixupNodeTest, SuccessFixesTheKernelAndTheFileAndReportsIt) {
    sysctl->set("fs.file-max", "65536");
    // Blanks around the name are trimmed for the key and the rule alike.
    const std::string doc =
        kernelDocument({instanceBody("node1", "CURR(1048576)CONF(1048576)", " file-max ")});
    NodeResult r = runCalls({fileCall(doc)});
    EXPECT_EQ(r.stdoutText, "0|" + kOutput + "|untouched\n");
    EXPECT_EQ(r.fileContent(kOutput).value_or("<missing>"),
              kernelDocument(
                  {instanceBody("node1", "CURR(1048576)CONF(1048576)", " file-max ", kSuccess)}));
    EXPECT_EQ(r.sysctlValue("fs.file-max").value_or(""), "1048576");
    EXPECT_EQ(r.commandLog(), (std::vector<std::string>{"/sbin/sysctl [-n] [fs.file-max]",
                                                        "/sbin/sysctl [-w] [fs.file-max=1048576]"}));
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 1048576\n");
    EXPECT_FALSE(r.exists(kWork + ".fix_scratch")) << "scratch directory removed";
}

TEST_F(RunFixupNodeTest, FailureCarriesNativeAndMessageErrorsEscaped) {
    sysctl->forceResult("", "sysctl: <fs.file-max> & \"denied\"\nsecond line\n", 3);
    const std::string doc =
        kernelDocument({instanceBody("node1", "CURR(1048576)CONF(1048576)", "file-max")});
    HostCall call = fileCall(doc);
    call.node = "Node1.Example.COM";  // recorded as "node1": file name and message argument
    NodeResult r = runCalls({call});
    EXPECT_EQ(r.stdoutText, "0|" + kOutput + "|untouched\n") << "a failed task does not fail it";
    const std::string failure =
        "              <FIXUP_OUTPUT_DATA>\n"
        "                <STATUS>FAILED</STATUS>\n"
        "                <ERROR_DETAILS>\n"
        "                  <NATIVE_ERRORS>\n"
        "                    <ERROR>sysctl: &lt;fs.file-max&gt; &amp; \"denied\"second line</ERROR>\n"
        "                  </NATIVE_ERRORS>\n"
        "                  <NLS_ERRORS>\n"
        "                    <NLS_MSG FACILITY=\"Vxlg\" ID=\"9027\" DISPLAY_ID=\"true\">\n"
        "                      <MSG_ARG_LIST>\n"
        "                        <MSG_ARG>fs.file-max</MSG_ARG>\n"
        "                        <MSG_ARG>/sbin/sysctl</MSG_ARG>\n"
        "                        <MSG_ARG>node1</MSG_ARG>\n"
        "                      </MSG_ARG_LIST>\n"
        "                    </NLS_MSG>\n"
        "                  </NLS_ERRORS>\n"
        "                </ERROR_DETAILS>\n"
        "              </FIXUP_OUTPUT_DATA>\n";
    EXPECT_EQ(r.fileContent(kOutput).value_or("<missing>"),
              kernelDocument(
                  {instanceBody("node1", "CURR(1048576)CONF(1048576)", "file-max", failure)}));
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 65536\n")
        << "the file is not touched after a failed read";
}

TEST_F(RunFixupNodeTest, TwoInstancesLandUnderTheirOwnNodes) {
    sysctl->set("fs.file-max", "65536").set("kernel.sem", "250\t32000\t100\t128");
    node.addFile("/etc/sysctl.d/90-vxl.conf", "");
    // An empty CONF() asks for no file change; the last NAME item wins and
    // PATH names the file to edit.
    const std::string semData =
        "            <DATA NAME=\"NAME\" VAL=\"semmns\" />\n"
        "            <DATA NAME=\"PATH\" VAL=\"/etc/sysctl.d/90-vxl.conf\" />\n";
    const auto doc = [&semData](const std::string& result) {
        return kernelDocument(
            {instanceBody("NODE1.example.com", "CURR(1048576)CONF()", "file-max", result),
             instanceBody("node2", "CURR(1)", "file-max"),
             instanceBody("node1", "CURR(64000)CONF(64000)", "file-max", result, semData)});
    };
    NodeResult r = runCalls({fileCall(doc(""))});
    EXPECT_EQ(r.fileContent(kOutput).value_or("<missing>"), doc(kSuccess));
    EXPECT_EQ(r.sysctlValue("kernel.sem").value_or(""), "250\t64000\t100\t128");
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 65536\n");
    EXPECT_EQ(r.fileContent("/etc/sysctl.d/90-vxl.conf").value_or(""),
              "# Recommended value for kernel.sem\nkernel.sem = 250\t64000\t100\t128\n");
}

TEST_F(RunFixupNodeTest, DocumentValuesStayOneArgumentAndOneLine) {
    sysctl->set("fs.file-max", "65536");
    // A line break would add a line to sysctl.conf: refused before anything
    // runs. Shell syntax reaches sysctl as one literal argument.
    const std::string lineBreak = "CURR(1)CONF(7000000&#10;kernel.core_pattern = |/tmp/evil)";
    const std::string shell = "\\n`touch /tmp/p1`$HOME\"q\"";
    const std::string shellInXml = "CURR(\\n`touch /tmp/p1`$HOME&quot;q&quot;)";
    NodeResult r =
        runCalls({fileCall(kernelDocument({instanceBody("node1", lineBreak, "file-max"),
                                           instanceBody("node1", shellInXml, "file-max")}))});
    const std::string out = r.fileContent(kOutput).value_or("<missing>");
    EXPECT_NE(out.find("<STATUS>FAILED</STATUS>"), std::string::npos) << out;
    EXPECT_NE(out.find("ID=\"9031\""), std::string::npos) << out;
    EXPECT_EQ(r.commandLog(),
              (std::vector<std::string>{"/sbin/sysctl [-n] [fs.file-max]",
                                        "/sbin/sysctl [-w] [fs.file-max=" + shell + "]"}));
    EXPECT_FALSE(r.exists("/tmp/p1"));
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 65536\n");
}

TEST_F(RunFixupNodeTest, TraceLevelDecidesTheDetailLines) {
    sysctl->set("fs.file-max", "6815744");
    HostCall quiet = fileCall(kernelDocument({instanceBody("node1", "CURR(1048576)", "file-max")}));
    quiet.traceLevel = 5;
    NodeResult r = runCalls({quiet});
    const std::string trace = r.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("");
    EXPECT_EQ(trace.find("BEGIN - Performing"), std::string::npos) << "detail line at level 5";
    EXPECT_NE(trace.find("FixupTask::fix - Fixing Total 1 instances of this task."),
              std::string::npos);
    HostCall loud = quiet;
    loud.traceLevel = 0;
    r = runCalls({loud});
    const std::string full = r.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("");
    EXPECT_NE(full.find("Main::vxlRunFixup - BEGIN - Performing fix-up operations with following "
                        "input information \n node :node1 \n Work Directory :" +
                        kWork + "\n input data file path :/var/tmp/doc.xml \n TRACE_LEVEL :0\n"),
              std::string::npos);
    EXPECT_NE(full.find("sFixupUtil::runCommandInternal - Executing command (/sbin/sysctl  -n "
                        "fs.file-max)"),
              std::string::npos);
}

TEST_F(RunFixupNodeTest, AFailedTaskStopsNoOtherTaskAndFailsOnlyAutoFixup) {
    // fs.file-max cannot be set, so the first task fails; the second, a task
    // of its own as its identifier differs in letter case, runs all the same.
    sysctl->set("fs.file-max", "65536").setReadOnly("fs.file-max").set("kernel.shmmni", "4096");
    node.addDirectory("/var/tmp/traces");
    const std::string doc = document(
        {taskElement("TASKKERNELPARAM", {instanceBody("node1", "CURR(1048576)", "file-max")}),
         taskElement("taskkernelparam", {instanceBody("node1", "CURR(8192)", "shmmni")})});
    HostCall inMemory;
    inMemory.inMemory = true;
    inMemory.node = "Node1";  // recorded as given
    inMemory.traceDir = "/var/tmp/traces/";
    inMemory.traceLevel = 5;
    inMemory.documentText = doc;
    HostCall withoutTraceDir = inMemory;  // traces into the work directory again
    withoutTraceDir.traceDir.clear();
    NodeResult r = runCalls({fileCall(doc), inMemory, withoutTraceDir});
    const std::string autoOutput = kWork + "fixup/vexelfixupoutput_Node1.xml";
    EXPECT_EQ(r.stdoutText, "0|" + kOutput + "|untouched\n1|" + autoOutput + "|untouched\n1|" +
                                autoOutput + "|untouched\n");
    EXPECT_NE(r.fileContent(kOutput).value_or("").find("<STATUS>SUCCESSFUL</STATUS>"),
              std::string::npos)
        << "vxlRunFixup fixed the second task";
    EXPECT_EQ(r.sysctlValue("kernel.shmmni").value_or(""), "8192");
    const std::string traces =
        r.fileContent("/var/tmp/traces/vexel_fixup_trace_0.log").value_or("");
    EXPECT_NE(traces.find("Main::vxlRunAutomFixup - Task TASKKERNELPARAM fixup result false\n"),
              std::string::npos);
    EXPECT_NE(traces.find("Main::vxlRunAutomFixup - Task taskkernelparam fixup result true\n"),
              std::string::npos);
    // The run without a trace directory traced into the work directory.
    const std::string begin = "Main::vxlRunAutoFixup - BEGIN";
    EXPECT_EQ(traces.find(begin, traces.find(begin) + 1), std::string::npos) << traces;
    EXPECT_NE(r.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("").find(begin),
              std::string::npos);
    const std::string out = r.fileContent(autoOutput).value_or("");
    EXPECT_NE(
        out.find("                    <NLS_MSG FACILITY=\"Vxlg\" ID=\"9026\" DISPLAY_ID=\"true\">\n"
                 "                      <MSG_ARG_LIST>\n"
                 "                        <MSG_ARG>fs.file-max</MSG_ARG>\n"
                 "                        <MSG_ARG>/sbin/sysctl</MSG_ARG>\n"
                 "                        <MSG_ARG>Node1</MSG_ARG>\n"),
        std::string::npos)
        << out;
}

}  // namespace
}  // namespace vxl_fixup
